// SPDX-License-Identifier: MIT
// A capture written to a file in the format the user picks: the time-stamped log, CSV, the text
// as the display shows it, or the received bytes raw (see LogFormat).
#pragma once

#include "traffic/DisplayFormatter.h"
#include "traffic/LogFormat.h"
#include "traffic/TrafficRenderer.h"

#include <QString>

#include <optional>

class QIODevice;
class TrafficCapture;

namespace CaptureExport {

// Frames: CSV of the Modbus frames in the capture, a row a frame (see writeFrames).
enum class Format { Log, Csv, Text, Raw, Frames };

// The format a file name's suffix names, if it names one.
std::optional<Format> formatOfSuffix(const QString &suffix);
QString suffixOf(Format format);
// The save dialog's filter for the format, e.g. "時間記錄 (*.log)".
QString filterOf(Format format);

// Where a save goes, in which format: a name ending in one of the formats' suffixes keeps it
// and is saved in that format; any other is saved in the format the user picked, and gets its
// suffix when it has none and names nothing that is there (a device or a pipe keeps its name).
struct Target
{
    QString path;
    Format format;
};
Target targetOf(const QString &path, Format picked);

// How the text is shown: the display's form, rule and style, and the names of terminal mode's
// blocks for a capture of both directions; and how far apart reads may be to share a line of
// the log or the CSV (LogFormat::Lines).
struct TextStyle
{
    DisplaySettings settings;
    bool hexForm = false;
    RenderOptions options;
    QString localName;
    QString remoteName;
    int joinGapMs = LogFormat::Lines::DefaultJoinGapMs;
    // The frames form: how an RTU frame's silence is measured on this line (its speed and the
    // bits of a character), and the protocol where the display's is none.
    int lineBaudRate = 9600;
    int bitsPerCharacter = 10;
};

// Writes the capture; false, with the reason, when the device did not take it all.
bool write(const TrafficCapture &capture, Format format, const TextStyle &style, QIODevice &out,
           QString *error);

// Writes the capture to `path`. A file is replaced only once all of it is written, so a save
// that fails leaves what was there; a device or a pipe is written as it stands, never replaced.
bool save(const TrafficCapture &capture, Format format, const TextStyle &style, const QString &path,
          QString *error);

} // namespace CaptureExport
