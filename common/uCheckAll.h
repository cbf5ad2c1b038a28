#pragma once
// The common module: settings file, daily log, serial transaction, port discovery.
// Everything here is free of Qt.

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace platform {
class SerialDevice;
}

// ---- Application directory and port settings -------------------------------------------------

// Directory of the executable, ending in the path separator. Set once at start-up.
extern std::string AppDir;
// Port name as shown in the port drop-down ("COM3") and baud rate; defaults "com1" and 115200.
// Written on the window thread only before a worker starts; the worker reads them.
extern std::string ComPortName;
extern int32_t ComBaudRate;

// The directory part of an executable path, cut after its last separator (or ':'), separator kept.
std::string DirectoryOfExecutable(const std::string& exePath);

// Sets AppDir from the running executable's own path.
void InitAppDir();

// Reads "com Info"/"com" and "baut" from AppDir + "config.ini". Throws EConvertError when the
// baud rate does not convert. Returns true whenever it returns.
bool LoadComSettings();
// Writes ComPortName to "com", then ComBaudRate to "baut". Throws EWriteError. Returns true.
bool SaveComSettings();

// [record] of config.ini: whether each worker's readings are recorded, and under which
// directory (empty: AppDir + "Data/"; a relative one is taken from AppDir). Read at start-up,
// never written.
struct RecordSettings {
    bool enabled = true;
    std::string dir;
};
extern RecordSettings Recording;

// Reads "enabled" and "dir" of [record] into Recording. An "enabled" that is not a whole number
// keeps recording on and says so on standard error; any other number than 0 means on.
void LoadRecordSettings();
// The directory that Recording names, ending in the separator.
std::string RecordingBase();

// One-shot profile-file access; nothing is cached between calls.
std::string IniReadString(const std::string& fileName, const std::string& section,
                          const std::string& key, const std::string& defaultValue);
// Throws EWriteError "Unable to write to <full path>" when the write is refused.
void IniWriteString(const std::string& fileName, const std::string& section, const std::string& key,
                    const std::string& value);
void IniWriteInteger(const std::string& fileName, const std::string& section,
                     const std::string& key, int32_t value);

// ---- Daily log -------------------------------------------------------------------------------

// Appends "[yyyy-mm-dd hh:mm:ss:zzz] " + text + CR LF to
// AppDir/Log/<Y>/<M>/<yyyy-mm-dd>__<channel>.log and first deletes the tree of the year before
// last. Never throws, never reports a failure.
void WriteLog(const std::string& text, const std::string& channel);

// Writes "[yyyy-mm-dd hh:mm:ss:zzz] " + text as one whole line to standard error, for what an
// operator at a terminal should see and the log does not hold.
void WriteConsoleLine(const std::string& text);

// Trims characters of code 0 to 32 from both ends, then appends the separator unless the result
// is empty or already ends with it.
std::string AddTrailingSeparator(const std::string& path);

// Deletes the directory with everything in it. True when it is gone or never existed; false when
// an entry could not be deleted (the walk stops there).
bool DeleteTree(const std::string& directory);

// ---- Serial transaction ----------------------------------------------------------------------

using PortHandle = std::unique_ptr<platform::SerialDevice>; // empty = invalid handle

// The port number text of a port name: its characters from the fourth on, at most three.
std::string PortNumberText(const std::string& portName);

// Why a transaction gave an empty reply.
enum class TransactFailure {
    None,            // the last transaction succeeded
    NoPort,          // no port selected, or the name has no port number
    DeviceMissing,   // the port's device does not exist
    PortBusy,        // another program holds the port
    AccessDenied,    // the device may not be opened by this user
    SettingsRefused, // the baud rate was refused
    OpenFailed,      // the system refused the open for another reason
    SendFailed,      // the command did not go out whole
    NoReply,         // no complete reply line within the limit
    PortLost,        // the device failed while the reply was awaited
};

struct TransactCause {
    TransactFailure failure = TransactFailure::None;
    std::error_code systemError; // the system's own error, where there is one
    std::string devicePath;      // the device the port maps to, once known
    std::string baudRateText;    // the baud rate as asked for
};

// The cause of the last transaction on the calling thread: each thread (window, worker) asks
// about its own. Failure None after a transaction that succeeded.
TransactCause LastTransactCause();

// One line for the operator naming the cause, in the window's language.
std::string DescribeTransactCause(const TransactCause& cause);

// Sends command + LF and, when awaitReply, reads one reply line (empty on any failure). Never
// throws; LastTransactCause tells why a reply is empty.
void ComTransact(const std::string& portNumberText, const std::string& baudRateText,
                 const std::string& command, bool awaitReply, std::string& reply);

// Opens and sets up the port; an empty handle on any failure, its cause in LastTransactCause.
PortHandle OpenComPort(int32_t portNumber, int32_t baudRate);

// Bytes waiting, 0 to 1024; more than 1024 are purged and count as 0; a failed query counts as 0.
unsigned ComBytesWaiting(platform::SerialDevice& port);

// Collects one reply line within timeLimitSeconds, logs it, strips every CR and LF. An empty
// reply leaves its cause (no reply, port lost) in LastTransactCause.
void ReadComReply(platform::SerialDevice& port, unsigned timeLimitSeconds, std::string& reply);

// Decodes pairs of hexadecimal digits into the characters with those codes. A final unpaired
// character is ignored; a pair that is not hexadecimal throws EConvertError.
std::string HexPairsToText(const std::string& hexPairs);

// ---- Port discovery --------------------------------------------------------------------------

struct SerialPortInfo {
    std::string name;       // "COM5", as the port drop-down shows it
    std::string devicePath; // the device it opens
};

// The serial ports of the machine, ascending by number.
std::vector<SerialPortInfo> ListSerialPorts();
