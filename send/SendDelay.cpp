// SPDX-License-Identifier: MIT
#include "SendDelay.h"

#include "traffic/IntText.h"

namespace SendDelay {

Parsed parse(const QString &text)
{
    const std::optional<int32_t> value = IntText::toInt32(text);
    if (!value)
        return {0, Problem::NotANumber};
    if (*value < 0)
        return {*value, Problem::Negative};
    return {*value, Problem::None};
}

} // namespace SendDelay
