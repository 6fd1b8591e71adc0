// Reading the parts of the files being posted. A file is read one part at a
// time, often by several threads, and opening it anew for each part costs
// more system calls than the read itself. On Unix the files being read stay
// open (a few at a time, shared by every thread): each open checks with one
// stat that the path still names the same regular file, and parts are read
// at their offsets without seeking, or used where they lie in a mapping of
// the file (a few stretches of it are mapped at a time). Elsewhere each
// open is a fresh one.
#pragma once

#include <QString>

#include <memory>

namespace tessaly {

class PartFile
{
public:
    struct Handle; // what the open file is, shared with the cache

    // Opens path for reading when it is a regular file; otherwise an
    // invalid PartFile with *error saying why.
    static PartFile open(const QString &path, QString *error);

    bool isValid() const { return handle_ != nullptr; }
    // The size of the file when it was opened.
    qint64 size() const { return size_; }
    // Reads up to n bytes from offset into to; the bytes read (fewer at the
    // end of the file), or -1 with *error saying why.
    qint64 readAt(qint64 offset, char *to, qint64 n, QString *error) const;

    // Hands use(context, bytes) the n bytes at offset straight from the
    // file's pages, without copying them. What it returns:
    // - NotMapped: nothing was handed over; read the bytes with readAt.
    // - Used: use() was given the file's bytes.
    // - CutShort: the file was cut short meanwhile (use() may have been
    //   stopped midway, or given bytes that are no longer the file's):
    //   whatever it made from them is to be dropped.
    // use() must not throw, allocate or take locks: a file cut short under
    // it ends it where it stands.
    enum class Mapped { NotMapped, Used, CutShort };
    Mapped useMapped(qint64 offset, qint64 n, void (*use)(void *, const unsigned char *), void *context) const;

private:
    std::shared_ptr<Handle> handle_;
    qint64 size_ = -1;
};

// The size of path's file now, or -1 when it is not a regular file. For a
// file kept open that is one fstat, with no lookup of the path: a file cut
// short or written to is seen at once; one put in its place is seen when
// its next part is opened.
qint64 currentFileSize(const QString &path);

// Closes the kept-open file of path (before it is removed: its space is then
// given back at once), or every one when path is empty (at the end of a run).
void closePartFiles(const QString &path = {});

} // namespace tessaly
