// SPDX-License-Identifier: MIT
// What R2K mode must type for the bytes it receives, whichever way the keys go (XTest, the
// desktop portal): the rows both end-to-end tests check.
#pragma once

#include <QByteArray>
#include <QTest>

inline void addTypedTextRows()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("greeting") << QByteArray("Hello, World! 123\r")
                              << QByteArray("Hello, World! 123\r");
    QTest::newRow("punctuation") << QByteArray("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~\r")
                                 << QByteArray("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~\r");
    QTest::newRow("letters and digits") << QByteArray("the QUICK brown fox 0123456789 jumps")
                                        << QByteArray("the QUICK brown fox 0123456789 jumps");
    // LF after CR, DEL and a Big5 pair type nothing; the backslash trailing 許 is typed.
    QTest::newRow("dropped bytes")
            << QByteArray("ok\r\n\x7F\xA4\xA4\xA5\x5C.") << QByteArray("ok\r\\.");
    QTest::newRow("controls") << QByteArray("\x08\x09\x0F\x01\x0B") << QByteArray("\b\t\x1b\r\t");
    QTest::newRow("Ctrl+C") << QByteArray("a\x05\x63\x06z") << QByteArray("a\x03z");
}
