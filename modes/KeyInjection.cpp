// SPDX-License-Identifier: MIT
#include "KeyInjection.h"

#include "modes/XTestInjector.h"

namespace KeyInjection {

namespace {
Factory &factory()
{
    static Factory f;
    return f;
}
} // namespace

void setFactory(Factory f) { factory() = std::move(f); }

Opened open() { return factory() ? factory()() : openDesktop(); }

Opened openDesktop() { return XTestInjector::open(); }

} // namespace KeyInjection
