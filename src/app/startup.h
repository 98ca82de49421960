#pragma once
// The program's start: its command line, and the settings the windows start with.
#include <QString>
#include <QStringList>
#include <optional>

namespace qorvel {

class TForm1;
class TForm2;

struct TStartOptions {
    QString Port;         // --port NAME
    QString Log;          // --log PATH
    QString Session;      // --session NAME
    bool HexDump = false; // --hex-dump
};

// The options after the program's name; nothing for anything it does not know.
std::optional<TStartOptions> ParseStartOptions(const QStringList& Arguments);

// The design values, then the saved default, then the session, then the command line. A
// settings file that cannot be used is skipped and noted in the main window; a session that does
// not exist raises ETextError, since starting on other settings than asked for could open the
// wrong device.
void StartUp(TForm1& Main, TForm2& Settings, const TStartOptions& Options);

} // namespace qorvel
