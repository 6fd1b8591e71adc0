// A plain INI file read and written one key at a time: a missing file, section
// or key reads as empty text, values are cut at 354 characters, and every write
// replaces the file atomically.
#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

namespace tessaly {

class ProfileFile
{
public:
    static constexpr int MaxValueLength = 354;

    explicit ProfileFile(QString path, bool privateFile = true)
        : path_(std::move(path)), private_(privateFile) {}

    const QString &path() const { return path_; }
    // Why the file cannot be read (not a regular file, too large, unreadable);
    // empty when it can, or when it does not exist. Such a file reads as empty.
    QString damage() const;

    // The key's value (blanks and one pair of enclosing quotes removed), at most
    // MaxValueLength characters; empty when the file, section or key is missing.
    QString read(const QString &section, const QString &key) const;
    bool hasKey(const QString &section, const QString &key) const;

    // Every value of a section (keys lower-cased, the first of a repeated key
    // wins), read with one pass over the file.
    QHash<QString, QString> section(const QString &section) const;

    // Writes one key, creating the file, section or key as needed. Returns an
    // error text, empty on success.
    QString write(const QString &section, const QString &key, const QString &value) const;
    // Writes several keys in order with a single rewrite of the file.
    QString write(const QString &section, const QList<QPair<QString, QString>> &keys) const;

private:
    QString path_;
    bool private_;
};

} // namespace tessaly
