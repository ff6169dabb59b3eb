#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

// A read-only INI file in the manner of the classic Windows profile reader.
//
// Text rules:
// - Lines end at LF, CR LF or a lone CR. A UTF-8 byte order mark at the start
//   is skipped; the rest is decoded as UTF-8, every invalid byte becoming
//   U+FFFD. NUL bytes are ordinary characters.
// - Blank lines and lines whose first non-blank character is ';' are skipped.
// - "[Name]" starts a section; the name is what lies between the '[' and the
//   last ']' of the line, trimmed. A line that starts with '[' but has no ']'
//   is skipped and does not change the current section.
// - "key=value" belongs to the current section; the key is the text before
//   the first '=', trimmed; the value is the rest, trimmed of blanks, then one
//   pair of matching surrounding quotes (" or ') is removed, blanks inside the
//   quotes kept. Nothing else is interpreted: commas, backslashes and ';' in
//   a value are plain characters. Lines without '=', lines with an empty key
//   and key lines before the first section are skipped.
// - Section and key names are compared without regard to letter case.
// - The first occurrence wins: a later key of the same name in its section is
//   ignored, and so is the whole body of a section whose name came before.
//
// Limits, because the file is untrusted: only the first MaxInputBytes bytes
// are read; when there are more, the line cut by that limit is dropped too,
// so a key is either read whole or not at all. A value keeps at most
// MaxValueLength UTF-16 units (one fewer when the cut would split a surrogate
// pair). Parsing never fails and never throws; any byte sequence is accepted.
class IniFile {
public:
    static constexpr qsizetype MaxInputBytes = 1024 * 1024;
    static constexpr qsizetype MaxValueLength = 2047;

    // An empty file: every read gives its default.
    IniFile() = default;

    // Reads the file at path. A missing or unreadable path, or one that is not
    // a regular file (directory, FIFO, device), gives an empty IniFile; no
    // error is reported and nothing blocks.
    static IniFile fromFile(const QString &path);
    // Parses the bytes as the contents of a file.
    static IniFile fromData(QByteArrayView data);
    // Parses text as if it were the file's contents in UTF-8.
    static IniFile fromString(const QString &text);

    // The value of key in section. Returns defaultValue, unchanged, only when
    // the section or the key is missing; a key present with an empty value
    // gives an empty string.
    QString readString(const QString &section, const QString &key, const QString &defaultValue) const;

    // The value of key in section as an integer, read as readString with an
    // empty default:
    // - longer than two characters and beginning "0x" or "0X": the rest must be
    //   ASCII hexadecimal digits with a value below 2^32 (leading zeros allowed),
    //   taken as a 32-bit two's complement number (0xFFFFFFFF gives -1);
    // - otherwise an optional '+' or '-' and ASCII decimal digits whose value
    //   fits a signed 32-bit integer.
    // Any other text (missing, empty, "abc", "12abc", "1.5", overflow) gives
    // defaultValue.
    int readInteger(const QString &section, const QString &key, int defaultValue) const;

private:
    using Section = QHash<QString, QString>; // case-folded key -> value

    void parse(QStringView text);

    QHash<QString, Section> m_sections; // case-folded section name -> keys
};
