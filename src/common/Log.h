// The program log: one model of lines that the log pane shows and the log
// file is written from. Every subsystem adds lines through AddLog.
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QTime>
#include <QTimer>
#include <QVector>

#include <functional>
#include <source_location>

namespace tessaly {

#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
// A standard library without std::source_location (libstdc++ 12 under clang
// 14, which the fuzz build uses): the same from the compiler's builtins. The
// function name is then the bare name, without its class.
struct SourceLocation
{
    static constexpr SourceLocation current(const char *file = __builtin_FILE(),
                                            const char *function = __builtin_FUNCTION(),
                                            unsigned line = __builtin_LINE()) noexcept
    {
        return SourceLocation{file, function, line};
    }
    constexpr const char *file_name() const noexcept { return file_; }
    constexpr const char *function_name() const noexcept { return function_; }
    constexpr unsigned line() const noexcept { return line_; }

    const char *file_ = "";
    const char *function_ = "";
    unsigned line_ = 0;
};
#endif

// Colours are 24-bit values in blue-green-red order.
namespace LogColour {
inline constexpr quint32 Black = 0;        // ordinary
inline constexpr quint32 Red = 255;        // failures
inline constexpr quint32 Blue = 16711680;  // server replies, closed connections, phases
inline constexpr quint32 Green = 32768;    // an item posted
inline constexpr quint32 Orange = 4227327; // stopped by the user, file removal
} // namespace LogColour

struct LogLine
{
    QTime time;
    int thread = 0; // 0 = general line, n >= 1 = connection n
    QString text;   // without line breaks
    quint32 colour = LogColour::Black;
    bool bold = false;

    // "hh:mm:ss: text" or "hh:mm:ss: Thread n -> text"
    QString formatted() const;
};

class LogModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Roles { ColourRole = Qt::UserRole + 1, BoldRole, ThreadRole, TextRole };

    // Views learn of new lines in batches: the first line after a quiet spell
    // at once, the ones after it together when the interval ends, so a burst
    // of lines costs one insertion instead of one per line. count(), line()
    // and the listener see every line at once.
    static constexpr int BatchIntervalMs = 100;

    explicit LogModel(QObject *parent = nullptr);

    void add(int thread, const QString &text, quint32 colour, bool bold);
    void clear();
    // Tells the views of the lines waiting now.
    void publish();

    int count() const { return int(lines_.size()); }
    const LogLine &line(int i) const { return lines_.at(i); }
    const QVector<LogLine> &lines() const { return lines_; }

    // Called with every new line (headless runs copy the log to standard output).
    void setListener(std::function<void(const LogLine &)> listener) { listener_ = std::move(listener); }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    QVector<LogLine> lines_;
    int published_ = 0; // the rows the views know of
    QTimer batchTimer_;
    std::function<void(const LogLine &)> listener_;
};

// The process-wide log.
LogModel &logModel();

// Appends one line to the log; thread 0 selects the general format.
void AddLog(int thread, const QString &text, quint32 colour = LogColour::Black, bool bold = false);

enum class ErrorOwner { Form, Module };

// Where an error line says it happened, taken from the source location so it
// cannot name the wrong place: the line, the procedure (the function's own
// name), and its owner: "Form frmX" for the windows (classes named frmX, or
// XWindow / XDialog, which read as frmX), "Module modX" for file X.cpp.
struct ErrorPlace
{
    int line = 0;
    QString procedure;
    ErrorOwner owner = ErrorOwner::Module;
    QString ownerName;

    static ErrorPlace of(const SourceLocation &where);
    // The same from the texts a compiler gives (function signature, file path).
    static ErrorPlace of(int line, const char *function, const char *file);
};

// "Error n (description) on line l in procedure p of Form|Module name"
QString errorLineText(int number, const QString &description, const ErrorPlace &place);
// Writes that line in red, with tail appended, placed where it is called.
void LogError(int number, const QString &description, const QString &tail = {},
              const SourceLocation &where = SourceLocation::current());

// Error numbers the program reports in its error lines.
namespace ErrorCode {
inline constexpr int TypeMismatch = 13;
inline constexpr int FileNotFound = 53;
inline constexpr int FileIo = 57;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathNotFound = 76;
inline constexpr int BadData = 5;
} // namespace ErrorCode

} // namespace tessaly
