/*
 * Profile-file engine: the file format as read and written here.
 *
 * - Code page: Latin-1, one byte per character. A character outside Latin-1 is written as "?".
 * - Line ends read: LF, CRLF and a lone CR each end a line. Line ends written: untouched lines keep
 *   their own; new lines take the line end of the file's first line, LF when the file has none.
 *   A last line without a line end gets one when a line is added after it.
 * - A UTF-8 byte-order mark at the very start is skipped when reading and kept when rewriting.
 * - "[" name "]" (blanks allowed around it) opens a section. The name runs to the last "]" of the
 *   line and loses its surrounding blanks. A line starting with "[" without a "]" is no header.
 * - Comment lines start with ";" or "#" after optional blanks; they are never entries.
 * - Inside a section, key "=" value is an entry. The value is everything after the first "=";
 *   blanks (space, tab) around the key and around the value are dropped. Quotes are part of the
 *   value: "x" reads back with its quotes. A key holding "=" or starting with ";", "#" or "["
 *   therefore does not read back; nothing writes one.
 * - Blank lines, comments, other lines without "=", and everything before the first section are
 *   ignored and kept byte for byte by every rewrite, also when the section around them is deleted.
 * - Section and key names match without regard to case within Latin-1 (a letter whose capital lies
 *   outside Latin-1 matches only itself) and without their surrounding blanks.
 * - A CR, LF or NUL handed in inside a section name, key or value is written as a blank, so no call
 *   can add a line. A NUL byte found in the file reads as a blank.
 * - Duplicates: the first section of a name wins, and the first entry of a key within it; later
 *   ones are kept but not seen. A write replaces that first entry only; deleting a section or key
 *   removes every duplicate, so it reads as absent afterwards. The section-name list names each
 *   section once, at its first place. A section named by the empty text ("[]") can be read and
 *   written by that name but is not listed: a NUL-separated list cannot carry an empty item.
 * - A section's content lists every entry line of it, duplicate keys included, as key "=" value.
 * - Lists crossing a fixed buffer carry whole items only: an item that does not fit is dropped,
 *   never delivered cut.
 * - Numbers (GetLongFromINI): an optional "+" or "-", then the decimal digits the value starts
 *   with, up to the first other character; "12ab" gives 12; a value starting with anything else
 *   (including "0x" forms past their "0") gives its digits so far, or 0. Values beyond the 32-bit
 *   range are clamped to it.
 * - Every rewrite goes to a temporary file in the same folder, is flushed and synced, and is renamed
 *   over the file, so the file is always whole: the old one or the new one. A rewrite that would not
 *   change a byte is not made. A file that exists but cannot be read is never rewritten.
 */
#include "database/ProfileFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

namespace nms::ProfileFile {

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\0';
}

const std::array<uchar, 256>& FoldTable()
{
    static const std::array<uchar, 256> table = [] {
        std::array<uchar, 256> t {};
        for (int c = 0; c < 256; ++c) {
            const char16_t upper = QChar(char16_t(c)).toUpper().unicode();
            t[c] = upper <= 0xFF ? uchar(upper) : uchar(c);
        }
        t[0] = ' ';
        return t;
    }();
    return table;
}

// Latin-1 bytes of a text handed in, with the characters that could break a line made blanks.
QByteArray Encode(const QString& text)
{
    QByteArray bytes = text.toLatin1();
    for (char& c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    return bytes;
}

QByteArray TrimmedBlanks(const QByteArray& bytes)
{
    qsizetype b = 0, e = bytes.size();
    while (b < e && IsBlank(bytes[b]))
        ++b;
    while (e > b && IsBlank(bytes[e - 1]))
        --e;
    return bytes.mid(b, e - b);
}

QByteArray Folded(QByteArray bytes)
{
    const auto& fold = FoldTable();
    for (char& c : bytes)
        c = char(fold[uchar(c)]);
    return bytes;
}

// The form in which a name handed in is compared with the names in the file.
QByteArray MatchForm(const QString& name)
{
    return Folded(TrimmedBlanks(Encode(name)));
}

QString Decode(const char* data, qsizetype size)
{
    QString text = QString::fromLatin1(data, size);
    if (std::memchr(data, '\0', size_t(size)))
        text.replace(QChar(u'\0'), QChar(u' '));
    return text;
}

bool MatchesAt(const char* data, qsizetype begin, qsizetype end, const QByteArray& form)
{
    if (end - begin != form.size())
        return false;
    const auto& fold = FoldTable();
    for (qsizetype i = 0; i < form.size(); ++i) {
        if (char(fold[uchar(data[begin + i])]) != form[i])
            return false;
    }
    return true;
}

enum class Kind : quint8 { Other, Section, Entry };

struct Line {
    qsizetype begin = 0, end = 0, next = 0; // text [begin, end), line end [end, next)
    qsizetype nameBegin = 0, nameEnd = 0; // section name or key, without blanks
    qsizetype valueBegin = 0, valueEnd = 0; // entry value, without blanks
    Kind kind = Kind::Other;
};

// Walks the lines of a file in one pass without copying them.
class Scanner {
public:
    explicit Scanner(const QByteArray& bytes) : d_(bytes.constData()), n_(bytes.size())
    {
        if (n_ >= 3 && std::memcmp(d_, kBom, 3) == 0)
            pos_ = 3;
    }

    qsizetype bomSize() const { return d_ && n_ >= 3 && std::memcmp(d_, kBom, 3) == 0 ? 3 : 0; }

    bool next(Line& line)
    {
        if (pos_ >= n_)
            return false;
        line.begin = pos_;
        // The next LF is remembered, so that a file of CR-only lines is not searched to its end
        // once per line.
        if (nextLf_ < pos_) {
            const void* lf = std::memchr(d_ + pos_, '\n', size_t(n_ - pos_));
            nextLf_ = lf ? static_cast<const char*>(lf) - d_ : n_;
        }
        const void* cr = std::memchr(d_ + pos_, '\r', size_t(nextLf_ - pos_));
        const qsizetype e = cr ? static_cast<const char*>(cr) - d_ : nextLf_;
        line.end = e;
        if (e == n_)
            line.next = e;
        else if (d_[e] == '\r' && e + 1 < n_ && d_[e + 1] == '\n')
            line.next = e + 2;
        else
            line.next = e + 1;
        pos_ = line.next;
        classify(line);
        return true;
    }

    bool matches(qsizetype begin, qsizetype end, const QByteArray& form) const
    {
        return MatchesAt(d_, begin, end, form);
    }

    // Readers looking for a section skip the entries of all others unparsed.
    void setEntriesWanted(bool wanted) { entriesWanted_ = wanted; }

private:
    void trim(qsizetype& b, qsizetype& e) const
    {
        while (b < e && IsBlank(d_[b]))
            ++b;
        while (e > b && IsBlank(d_[e - 1]))
            --e;
    }

    void classify(Line& line) const
    {
        line.kind = Kind::Other;
        qsizetype b = line.begin, e = line.end;
        while (b < e && IsBlank(d_[b]))
            ++b;
        if (b == e || d_[b] == ';' || d_[b] == '#' || (!entriesWanted_ && d_[b] != '['))
            return;
        trim(b, e);
        if (d_[b] == '[') {
            qsizetype close = e - 1;
            while (close > b && d_[close] != ']')
                --close;
            if (close > b) {
                line.kind = Kind::Section;
                line.nameBegin = b + 1;
                line.nameEnd = close;
                trim(line.nameBegin, line.nameEnd);
            }
            return;
        }
        const void* eq = std::memchr(d_ + b, '=', size_t(e - b));
        if (!eq)
            return;
        const qsizetype at = static_cast<const char*>(eq) - d_;
        line.kind = Kind::Entry;
        line.nameBegin = b;
        line.nameEnd = at;
        trim(line.nameBegin, line.nameEnd);
        line.valueBegin = at + 1;
        line.valueEnd = e;
        trim(line.valueBegin, line.valueEnd);
    }

    const char* d_;
    qsizetype n_;
    qsizetype pos_ = 0;
    qsizetype nextLf_ = -1;
    bool entriesWanted_ = true;
};

enum class Load { Missing, Loaded, Failed };

std::atomic<int> readCount {0};
std::atomic<int> rewriteCount {0};

Load LoadFile(const QString& path, QByteArray& bytes)
{
    ++readCount;
    const QFileInfo info(path);
    if (!info.exists())
        return Load::Missing;
    if (info.isDir())
        return Load::Failed;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Load::Failed;
    bytes = file.readAll();
    return file.error() == QFileDevice::NoError ? Load::Loaded : Load::Failed;
}

// A rewrite of a parsed file: lines are kept, replaced or removed, new ones inserted after a
// given line or appended at the end; result() joins it all in one pass.
class Rewrite {
public:
    explicit Rewrite(const QString& path) : path_(path) { }

    Load load()
    {
        status_ = LoadFile(path_, bytes_);
        if (status_ != Load::Loaded)
            bytes_.clear();
        Scanner scanner(bytes_);
        bom_ = scanner.bomSize();
        // One allocation for the lines of a large file instead of a series of ever larger ones.
        lines_.reserve(size_t(std::count(bytes_.cbegin(), bytes_.cend(), '\n')) + 1);
        Line line;
        while (scanner.next(line)) {
            if (eol_.isEmpty() && line.next > line.end)
                eol_ = bytes_.mid(line.end, line.next - line.end);
            lines_.push_back(line);
        }
        if (eol_.isEmpty())
            eol_ = "\n";
        return status_;
    }

    const std::vector<Line>& lines() const { return lines_; }
    QByteArray nameForm(const Line& line) const
    {
        return Folded(bytes_.mid(line.nameBegin, line.nameEnd - line.nameBegin));
    }
    bool nameIs(const Line& line, const QByteArray& form) const
    {
        return MatchesAt(bytes_.constData(), line.nameBegin, line.nameEnd, form);
    }

    void replace(size_t index, const QByteArray& text) { replaced_.insert(index, text); }
    void remove(size_t index) { removed_.insert(index); }
    void insertAfter(size_t index, const QByteArray& text) { inserted_[index].append(text); }
    void append(const QByteArray& text) { appended_.append(text); }

    // Writes the result unless it equals what the file holds already.
    bool commit() const
    {
        const QByteArray out = result();
        if (status_ == Load::Loaded && out == bytes_)
            return true;
        return saveAtomically(out);
    }

private:
    QByteArray result() const
    {
        QByteArray out;
        out.reserve(bytes_.size() + 256);
        out.append(bytes_.constData(), bom_);
        bool open = false; // the last line written has no line end yet
        auto put = [&](const char* text, qsizetype size, const char* lineEnd, qsizetype endSize) {
            if (open)
                out.append(eol_);
            out.append(text, size);
            out.append(lineEnd, endSize);
            open = endSize == 0;
        };
        for (size_t i = 0; i < lines_.size(); ++i) {
            const Line& line = lines_[i];
            const char* end = bytes_.constData() + line.end;
            const qsizetype endSize = line.next - line.end;
            if (const auto it = replaced_.constFind(i); it != replaced_.cend())
                put(it->constData(), it->size(), end, endSize);
            else if (!removed_.contains(i))
                put(bytes_.constData() + line.begin, line.end - line.begin, end, endSize);
            if (const auto it = inserted_.constFind(i); it != inserted_.cend()) {
                for (const QByteArray& text : *it)
                    put(text.constData(), text.size(), eol_.constData(), eol_.size());
            }
        }
        for (const QByteArray& text : appended_)
            put(text.constData(), text.size(), eol_.constData(), eol_.size());
        return out;
    }

    bool saveAtomically(const QByteArray& out) const
    {
        // QSaveFile syncs the new content to disk itself before it renames it over the file, so
        // the file is whole after any crash. The folder is not synced after the rename: that
        // second journal commit doubled the cost of every write, and all it bought was that a
        // power cut just after the rename leaves the new file rather than the old one.
        ++rewriteCount;
        QSaveFile file(path_);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        // The flush is checked here: a full disk shows up only when the buffer goes out, and
        // commit() would still rename the cut file over the good one.
        if (file.write(out) != out.size() || !file.flush()) {
            file.cancelWriting();
            return false;
        }
        return file.commit();
    }

    QString path_;
    QByteArray bytes_;
    Load status_ = Load::Missing;
    qsizetype bom_ = 0;
    QByteArray eol_;
    std::vector<Line> lines_;
    QHash<size_t, QByteArray> replaced_;
    QSet<size_t> removed_;
    QHash<size_t, QList<QByteArray>> inserted_;
    QList<QByteArray> appended_;
};

// Index of the first header of the section, or lines.size().
size_t FindSection(const Rewrite& file, const QByteArray& form, size_t from = 0)
{
    const auto& lines = file.lines();
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i].kind == Kind::Section && file.nameIs(lines[i], form))
            return i;
    }
    return lines.size();
}

size_t SectionEnd(const Rewrite& file, size_t header)
{
    const auto& lines = file.lines();
    size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != Kind::Section)
        ++i;
    return i;
}

// The first section of that name, as seen by a reader: the range of its lines after the header.
template <typename Visit> void VisitFirstSection(const QByteArray& bytes, const QByteArray& form, Visit visit)
{
    Scanner scanner(bytes);
    scanner.setEntriesWanted(false);
    Line line;
    bool inside = false;
    while (scanner.next(line)) {
        if (line.kind == Kind::Section) {
            if (inside)
                return;
            inside = scanner.matches(line.nameBegin, line.nameEnd, form);
            scanner.setEntriesWanted(inside);
        } else if (inside && line.kind == Kind::Entry) {
            if (!visit(scanner, line))
                return;
        }
    }
}

} // namespace

std::optional<QString> ReadValue(const QString& path, const QString& section, const QString& key)
{
    QByteArray bytes;
    if (LoadFile(path, bytes) != Load::Loaded)
        return std::nullopt;
    const QByteArray keyForm = MatchForm(key);
    std::optional<QString> value;
    VisitFirstSection(bytes, MatchForm(section), [&](const Scanner& scanner, const Line& line) {
        if (!scanner.matches(line.nameBegin, line.nameEnd, keyForm))
            return true;
        value = Decode(bytes.constData() + line.valueBegin, line.valueEnd - line.valueBegin);
        return false;
    });
    return value;
}

QStringList ReadSectionNames(const QString& path)
{
    QStringList names;
    QByteArray bytes;
    if (LoadFile(path, bytes) != Load::Loaded)
        return names;
    QSet<QByteArray> seen;
    Scanner scanner(bytes);
    scanner.setEntriesWanted(false);
    Line line;
    while (scanner.next(line)) {
        if (line.kind != Kind::Section || line.nameEnd == line.nameBegin)
            continue;
        const QByteArray name = bytes.mid(line.nameBegin, line.nameEnd - line.nameBegin);
        const QByteArray form = Folded(name);
        if (seen.contains(form))
            continue;
        seen.insert(form);
        names.append(Decode(name.constData(), name.size()));
    }
    return names;
}

QList<SectionValue> ReadKeyOfEverySection(const QString& path, const QString& key)
{
    QList<SectionValue> sections;
    QByteArray bytes;
    if (LoadFile(path, bytes) != Load::Loaded)
        return sections;
    const char* d = bytes.constData();
    const QByteArray keyForm = MatchForm(key);
    QSet<QByteArray> seen;
    Scanner scanner(bytes);
    scanner.setEntriesWanted(false);
    Line line;
    // The section whose value is still being looked for; entries of any other are skipped, and
    // so are those of a later section of a name seen before (the first one of a name wins).
    SectionValue* open = nullptr;
    while (scanner.next(line)) {
        if (line.kind == Kind::Section) {
            open = nullptr;
            const QByteArray name = bytes.mid(line.nameBegin, line.nameEnd - line.nameBegin);
            const QByteArray form = Folded(name);
            const bool first = !seen.contains(form);
            seen.insert(form);
            // The empty name cannot be listed; its entries are not anybody's.
            if (first && !name.isEmpty()) {
                sections.append({Decode(name.constData(), name.size()), std::nullopt});
                open = &sections.last();
            }
            scanner.setEntriesWanted(open != nullptr);
        } else if (open && line.kind == Kind::Entry && scanner.matches(line.nameBegin, line.nameEnd, keyForm)) {
            open->value = Decode(d + line.valueBegin, line.valueEnd - line.valueBegin);
            open = nullptr;
            scanner.setEntriesWanted(false);
        }
    }
    return sections;
}

Entries ReadSection(const QString& path, const QString& section)
{
    Entries entries;
    QByteArray bytes;
    if (LoadFile(path, bytes) != Load::Loaded)
        return entries;
    const char* d = bytes.constData();
    VisitFirstSection(bytes, MatchForm(section), [&](const Scanner&, const Line& line) {
        entries.append({Decode(d + line.nameBegin, line.nameEnd - line.nameBegin),
                        Decode(d + line.valueBegin, line.valueEnd - line.valueBegin)});
        return true;
    });
    return entries;
}

QStringList ReadSectionEntries(const QString& path, const QString& section)
{
    QStringList lines;
    for (const auto& [key, value] : ReadSection(path, section))
        lines.append(key + QLatin1Char('=') + value);
    return lines;
}

bool WriteValues(const QString& path, const QString& section, const Entries& entries)
{
    return WriteSections(path, {{section, entries}});
}

bool WriteSections(const QString& path, const QList<SectionEntries>& sections, SectionWrite mode)
{
    Rewrite file(path);
    const Load status = file.load();
    if (status == Load::Failed)
        return false;

    // Several writes of one key end as one entry, in the place of the first, with the last value;
    // several writes of one section end in its first place.
    struct Pending {
        QByteArray form, text;
        bool done = false;
    };
    struct Section {
        QByteArray name;
        QList<Pending> pending;
    };
    QList<Section> wanted;
    QHash<QByteArray, qsizetype> wantedAt;
    for (const SectionEntries& item : sections) {
        if (item.entries.isEmpty())
            continue;
        const QByteArray name = TrimmedBlanks(Encode(item.section));
        const QByteArray sectionForm = Folded(name);
        qsizetype at = wantedAt.value(sectionForm, -1);
        if (at < 0) {
            at = wanted.size();
            wantedAt.insert(sectionForm, at);
            wanted.append({name, {}});
        }
        QList<Pending>& pending = wanted[at].pending;
        for (const auto& [key, value] : item.entries) {
            const QByteArray keyName = TrimmedBlanks(Encode(key));
            const QByteArray text = keyName + '=' + Encode(value);
            const QByteArray form = Folded(keyName);
            auto it = std::find_if(pending.begin(), pending.end(), [&](const Pending& p) { return p.form == form; });
            if (it != pending.end())
                it->text = text;
            else
                pending.append({form, text});
        }
    }
    if (wanted.isEmpty())
        return true;

    // The first header of every section name in one pass, so a batch of many sections does not
    // search the file once per section.
    const auto& lines = file.lines();
    QHash<QByteArray, size_t> firstHeader;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != Kind::Section)
            continue;
        const QByteArray form = file.nameForm(lines[i]);
        if (wantedAt.contains(form) && !firstHeader.contains(form))
            firstHeader.insert(form, i);
    }

    for (Section& section : wanted) {
        const auto header = firstHeader.constFind(Folded(section.name));
        if (header == firstHeader.cend()) {
            file.append('[' + section.name + ']');
            for (const Pending& p : section.pending)
                file.append(p.text);
            continue;
        }
        size_t last = *header;
        const size_t end = SectionEnd(file, *header);
        if (mode == SectionWrite::Replace) {
            for (size_t i = *header + 1; i < end; ++i) {
                if (lines[i].kind == Kind::Entry)
                    file.remove(i);
            }
            for (const Pending& p : section.pending)
                file.insertAfter(*header, p.text);
            continue;
        }
        for (size_t i = *header + 1; i < end; ++i) {
            if (lines[i].kind != Kind::Entry)
                continue;
            last = i;
            for (Pending& p : section.pending) {
                if (!p.done && file.nameIs(lines[i], p.form)) {
                    file.replace(i, p.text);
                    p.done = true;
                    break;
                }
            }
        }
        for (const Pending& p : section.pending) {
            if (!p.done)
                file.insertAfter(last, p.text);
        }
    }
    return file.commit();
}

bool DeleteKey(const QString& path, const QString& section, const QString& key)
{
    Rewrite file(path);
    const Load status = file.load();
    if (status != Load::Loaded)
        return status == Load::Missing;
    const size_t header = FindSection(file, MatchForm(section));
    if (header == file.lines().size())
        return true;
    const QByteArray keyForm = MatchForm(key);
    const size_t end = SectionEnd(file, header);
    for (size_t i = header + 1; i < end; ++i) {
        const Line& line = file.lines()[i];
        if (line.kind == Kind::Entry && file.nameIs(line, keyForm))
            file.remove(i);
    }
    return file.commit();
}

bool DeleteSection(const QString& path, const QString& section)
{
    Rewrite file(path);
    const Load status = file.load();
    if (status != Load::Loaded)
        return status == Load::Missing;
    const QByteArray form = MatchForm(section);
    for (size_t header = FindSection(file, form); header < file.lines().size();) {
        const size_t end = SectionEnd(file, header);
        file.remove(header);
        for (size_t i = header + 1; i < end; ++i) {
            if (file.lines()[i].kind == Kind::Entry)
                file.remove(i);
        }
        header = FindSection(file, form, end);
    }
    return file.commit();
}

Counters CurrentCounters()
{
    return {readCount.load(), rewriteCount.load()};
}

void ResetCounters()
{
    readCount = 0;
    rewriteCount = 0;
}

QString UpperName(const QString& name)
{
    QString upper = name;
    for (QChar& c : upper) {
        const QChar u = c.toUpper();
        if (c.unicode() > 0xFF || u.unicode() <= 0xFF)
            c = u;
    }
    return upper;
}

bool SameName(const QString& a, const QString& b)
{
    return MatchForm(a) == MatchForm(b);
}

qint32 LeadingLong(const QString& value)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) {
        negative = value[i] == u'-';
        ++i;
    }
    qint64 number = 0;
    constexpr qint64 limit = qint64(1) << 31;
    for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
        number = number * 10 + (value[i].unicode() - u'0');
        if (number > limit)
            number = limit;
    }
    if (negative)
        return qint32(-number);
    return qint32(std::min<qint64>(number, limit - 1));
}

QString PackList(const QStringList& items, int capacity)
{
    QString buffer;
    for (const QString& item : items) {
        if (buffer.size() + item.size() + 2 > capacity)
            break;
        buffer += item;
        buffer += QChar(u'\0');
    }
    buffer += QChar(u'\0');
    if (buffer.size() == 1)
        buffer += QChar(u'\0');
    return buffer;
}

QStringList UnpackList(const QString& buffer)
{
    QStringList items;
    for (const QString& item : buffer.split(QChar(u'\0'))) {
        if (item.isEmpty())
            break;
        items.append(item);
    }
    return items;
}

} // namespace nms::ProfileFile
