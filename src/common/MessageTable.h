// The texts of the user interface, addressed by slot number (9 to 256). The
// built-in English texts can be replaced by a language file.
#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <span>

namespace tessaly {

class MessageTable
{
public:
    static constexpr int FirstSlot = 9;
    static constexpr int LastSlot = 303;
    // Slots from here on came later: a language file without them keeps
    // them English.
    static constexpr int FirstAddedSlot = 248;
    static constexpr int SlotCount = LastSlot - FirstSlot + 1;

    // A group of slots shown by one window; also a section of a language file,
    // whose keys 1, 2, ... are the slots first, first + 1, ...
    struct Section
    {
        const char16_t *name;
        int first;
        int last;
    };
    static std::span<const Section> sections();

    MessageTable();

    // Fills every slot with the built-in English text.
    void SetEnglishLang();

    // The raw text of a slot ("//" and "&&" kept); empty outside 9..247.
    QString text(int slot) const;
    void setText(int slot, const QString &text);
    void clearAll();

    // The text as a message shows it: "//" becomes a line break (two line
    // breaks for slots 245 and 246).
    QString message(int slot) const;
    // Slot 9 with its "//" replaced by the number of files being added.
    QString addingFilesText(int count) const;

    static QString englishText(int slot);

private:
    std::array<QString, SlotCount> slots_;
};

// The process-wide table.
MessageTable &messageTable();
// Shorthand for messageTable().text(slot).
QString msg(int slot);

} // namespace tessaly
