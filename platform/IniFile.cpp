#include "platform/IniFile.h"

#include "platform/RegularFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <vector>

namespace {

// One physical line: its text and its own line end, so untouched lines are written back as read.
struct Line {
    QByteArray text;
    QByteArray end;
};

std::vector<Line> splitLines(const QByteArray& bytes)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype nl = bytes.indexOf('\n', start);
        if (nl < 0) {
            lines.push_back({bytes.mid(start), {}});
            break;
        }
        qsizetype textEnd = (nl > start && bytes[nl - 1] == '\r') ? nl - 1 : nl;
        lines.push_back({bytes.mid(start, textEnd - start), bytes.mid(textEnd, nl + 1 - textEnd)});
        start = nl + 1;
    }
    return lines;
}

// Files that come from the lab's older machines are in the Windows Cyrillic code page; files
// written here are UTF-8. A file that is valid UTF-8 is taken as such. Stateless, so that a file
// ending in the first byte of a sequence (a Cyrillic letter of the old code page as its last
// byte) counts as invalid rather than as a sequence still to come.
bool isUtf8(const QByteArray& bytes)
{
    QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = dec.decode(bytes);
    return !dec.hasError();
}

QString decode(const QByteArray& bytes, bool utf8)
{
    if (utf8)
        return QString::fromUtf8(bytes);
    QStringDecoder dec("windows-1251");
    if (dec.isValid())
        return dec.decode(bytes);
    return QString::fromLatin1(bytes);
}

QByteArray encode(const QString& text, bool utf8)
{
    if (utf8)
        return text.toUtf8();
    QStringEncoder enc("windows-1251");
    if (enc.isValid())
        return enc.encode(text);
    return text.toLatin1();
}

// "[name]" with optional blanks: the section's name, or a null string for any other line.
QString sectionName(const QString& line)
{
    QString t = line.trimmed();
    if (t.size() < 2 || !t.startsWith(u'[') || !t.endsWith(u']'))
        return {};
    return t.mid(1, t.size() - 2).trimmed();
}

// For "key = value": the key; null for comments, blank lines and lines without '='.
QString keyOf(const QString& line, QString* value = nullptr)
{
    QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(u';'))
        return {};
    qsizetype eq = t.indexOf(u'=');
    if (eq <= 0)
        return {};
    if (value)
        *value = t.mid(eq + 1).trimmed();
    return t.left(eq).trimmed();
}

QString unquote(QString v)
{
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        return v.mid(1, v.size() - 2);
    return v;
}

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

} // namespace

QString IniFile::readString(const QString& section, const QString& key, const QString& def) const
{
    // A file that cannot be read as one (missing, a folder, a device, a pipe, far too large)
    // reads as missing, as an unreadable one always has.
    QByteArray bytes;
    QString error;
    if (regularfile::readWhole(fileName_, kMaxFileSize, &bytes, &error) != regularfile::Read::Done)
        return def;
    const bool utf8 = isUtf8(bytes);
    bool inSection = false;
    for (const Line& line : splitLines(bytes)) {
        const QString text = decode(line.text, utf8);
        const QString name = sectionName(text);
        if (!name.isNull()) {
            inSection = sameName(name, section);
            continue;
        }
        if (!inSection)
            continue;
        QString value;
        if (sameName(keyOf(text, &value), key))
            return unquote(value).left(kMaxValueLength);
    }
    return def;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) const
{
    const QString failure = QStringLiteral("Unable to write to %1").arg(QFileInfo(fileName_).absoluteFilePath());
    // A line break inside the value would turn into keys of its own and corrupt the file.
    if (value.contains(u'\n') || value.contains(u'\r') || key.contains(u'=') || key.trimmed().isEmpty())
        throw EIniFileException(failure);

    // Only a missing file is made anew: anything else that cannot be read as a file (a folder,
    // a device, a pipe) is left as it is and the write refused.
    QByteArray bytes;
    QString error;
    switch (regularfile::readWhole(fileName_, kMaxFileSize, &bytes, &error)) {
    case regularfile::Read::Missing:
        break;
    case regularfile::Read::Done:
        if (!QFileInfo(fileName_).isWritable())
            throw EIniFileException(failure);
        break;
    case regularfile::Read::NotRegular:
    case regularfile::Read::TooLarge:
    case regularfile::Read::Failed:
        throw EIniFileException(failure);
    }
    const bool utf8 = bytes.isEmpty() || isUtf8(bytes);
    std::vector<Line> lines = splitLines(bytes);
    QByteArray eol = "\n";
    for (const Line& l : lines)
        if (!l.end.isEmpty()) {
            eol = l.end;
            break;
        }
    const QByteArray newLine = encode(key + u'=' + value, utf8);

    // Find the section, the key within it, and the last non-blank line of the section.
    qsizetype sectionAt = -1, keyAt = -1, lastInSection = -1;
    QString existingKey;
    for (qsizetype i = 0; i < qsizetype(lines.size()); ++i) {
        const QString text = decode(lines[size_t(i)].text, utf8);
        const QString name = sectionName(text);
        if (!name.isNull()) {
            if (sectionAt >= 0)
                break;
            if (sameName(name, section)) {
                sectionAt = i;
                lastInSection = i;
            }
            continue;
        }
        if (sectionAt < 0)
            continue;
        if (!text.trimmed().isEmpty())
            lastInSection = i;
        if (sameName(keyOf(text), key)) {
            keyAt = i;
            existingKey = keyOf(text);
            break;
        }
    }

    if (keyAt >= 0) {
        // The key keeps the spelling it has in the file.
        lines[size_t(keyAt)].text = encode(existingKey + u'=' + value, utf8);
    } else if (sectionAt >= 0) {
        Line& before = lines[size_t(lastInSection)];
        if (before.end.isEmpty())
            before.end = eol;
        lines.insert(lines.begin() + lastInSection + 1, Line{newLine, eol});
    } else {
        if (!lines.empty() && lines.back().end.isEmpty())
            lines.back().end = eol;
        lines.push_back({encode(u'[' + section + u']', utf8), eol});
        lines.push_back({newLine, eol});
    }

    QByteArray out;
    out.reserve(bytes.size() + newLine.size() + 16);
    for (const Line& l : lines)
        out += l.text + l.end;
    // A file in the old code page is told from UTF-8 only by its invalid sequences. When the line
    // replaced held the last of them, the other lines would read as UTF-8 from now on and change
    // their values; the file is then rewritten in UTF-8, every line meaning what it meant.
    if (!utf8 && isUtf8(out)) {
        QByteArray recoded;
        recoded.reserve(out.size() + 16);
        for (const Line& l : lines)
            recoded += encode(decode(l.text, false), true) + l.end;
        out = recoded;
    }

    QSaveFile save(fileName_);
    if (!save.open(QIODevice::WriteOnly) || save.write(out) != out.size() || !save.commit())
        throw EIniFileException(failure);
}
