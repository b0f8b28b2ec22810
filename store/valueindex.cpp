// The chunked value index of one column.

#include "valueindex_p.h"

#include "database.h"

#include <algorithm>

namespace {

// Entries per chunk at most: an insertion shifts up to this many, a lookup
// searches the chunks' last entries and then one chunk.
constexpr size_t chunkCapacity = 256;

// Compares `key` with an entry's key: negative, zero or positive as `key`
// orders before, equal to or after it.
int compareToEntry(const IndexKey &key, const ValueIndex::Entry &entry, const ColumnCells &cells)
{
    const auto order = [](auto a, auto b) { return a < b ? -1 : 1; };
    switch (entry.form) {
    case ValueIndex::Decimal: {
        const qint64 number = qint64(entry.slot);
        if (key.number != number)
            return order(key.number, number);
        if (std::holds_alternative<std::monostate>(key.bytes))
            return 0;
        const quint64 head = IndexKey::decimalHead(number);
        if (key.head != head)
            return order(key.head, head);
        return IndexKey::compareWithCell(key, cells.at(entry.row), false);
    }
    case ValueIndex::Head:
        if (key.number != 0)
            return order(key.number, qint64(0));
        if (key.head != entry.slot)
            return order(key.head, entry.slot);
        return IndexKey::compareWithCell(key, cells.at(entry.row), entry.text);
    default:
        if (key.number != qint64(entry.slot))
            return order(key.number, qint64(entry.slot));
        return IndexKey::compareWithCell(key, cells.at(entry.row), entry.text);
    }
}

// Room for one more entry, doubling up to a full chunk.
void makeRoom(std::vector<ValueIndex::Entry> &chunk)
{
    if (chunk.size() == chunk.capacity())
        chunk.reserve(std::min(chunkCapacity, std::max<size_t>(8, chunk.capacity() * 2)));
}

} // namespace

ValueIndex::Entry ValueIndex::entryOf(const IndexKey &key, int row)
{
    return entryOf(key.number, key.head, std::holds_alternative<std::monostate>(key.bytes),
                   std::holds_alternative<QString>(key.bytes), key.plain, row);
}

ValueIndex::Entry ValueIndex::entryOf(qint64 number, quint64 head, bool decimal, bool text, bool plain, int row)
{
    Entry entry{};
    if (decimal) {
        entry.form = Decimal;
        entry.slot = quint64(number);
    } else if (number == 0) {
        entry.form = Head;
        entry.slot = head;
    } else {
        entry.form = Number;
        entry.slot = quint64(number);
    }
    entry.row = row;
    entry.text = text;
    entry.plain = plain;
    return entry;
}

ValueIndex::Position ValueIndex::seek(const IndexKey &key, quint32 stamp, const ColumnCells &cells) const
{
    const auto before = [&](const Entry &entry) {
        const int c = compareToEntry(key, entry, cells);
        return c > 0 || (c == 0 && entry.stamp > stamp);
    };
    // The position lies in the first chunk whose last entry is not before.
    size_t low = 0;
    size_t high = chunks.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (before(chunks[middle].back()))
            low = middle + 1;
        else
            high = middle;
    }
    if (low == chunks.size())
        return {low, 0};
    const std::vector<Entry> &chunk = chunks[low];
    return {low, size_t(std::partition_point(chunk.cbegin(), chunk.cend(), before) - chunk.cbegin())};
}

ValueIndex::const_iterator ValueIndex::lowerBound(const IndexKey &key, const ColumnCells &cells) const
{
    // Above every stamp: every equal key is after.
    const Position at = seek(key, quint32(1) << stampBits, cells);
    return const_iterator(&chunks, at.chunk, at.at);
}

ValueIndex::const_iterator ValueIndex::upperBound(const IndexKey &key, const ColumnCells &cells) const
{
    // Every entry's stamp is above 0: every equal key is before.
    const Position at = seek(key, 0, cells);
    return const_iterator(&chunks, at.chunk, at.at);
}

void ValueIndex::setStamp(int row, quint32 stamp)
{
    if (size_t(row) >= stamps.size())
        stamps.resize(size_t(row) + 1, 0);
    stamps[size_t(row)] = stamp;
}

void ValueIndex::insert(int row, const ColumnCells &cells)
{
    if (row < 1 || stampOf(row) != 0)
        return;
    if (lastStamp >= stampLimit)
        renumber();
    const IndexKey key = IndexKey::of(cells.at(row));
    Entry entry = entryOf(key, row);
    entry.stamp = ++lastStamp;
    // With the highest stamp the entry goes before its equals.
    place(seek(key, entry.stamp, cells), entry);
    setStamp(row, entry.stamp);
    ++count;
    if (isUnusual(cells.at(row)))
        ++unusualCells;
}

void ValueIndex::place(Position position, const Entry &entry)
{
    if (chunks.empty()) {
        chunks.emplace_back();
        makeRoom(chunks.back());
        chunks.back().push_back(entry);
        return;
    }
    if (position.chunk == chunks.size()) { // after the last entry
        --position.chunk;
        position.at = chunks[position.chunk].size();
    }
    if (chunks[position.chunk].size() == chunkCapacity) {
        // A full chunk splits. At either end the entry starts a chunk of its
        // own, so that keys arriving in order fill chunks whole.
        const size_t size = chunkCapacity;
        if (position.at == size || position.at == 0) {
            std::vector<Entry> single;
            makeRoom(single);
            single.push_back(entry);
            chunks.insert(chunks.begin() + qsizetype(position.chunk + (position.at == size ? 1 : 0)),
                          std::move(single));
            return;
        }
        std::vector<Entry> upper;
        upper.reserve(chunkCapacity);
        std::vector<Entry> &lower = chunks[position.chunk];
        upper.assign(lower.cbegin() + qsizetype(size / 2), lower.cend());
        lower.resize(size / 2);
        chunks.insert(chunks.begin() + qsizetype(position.chunk + 1), std::move(upper));
        if (position.at > size / 2) {
            ++position.chunk;
            position.at -= size / 2;
        }
    }
    std::vector<Entry> &chunk = chunks[position.chunk];
    makeRoom(chunk);
    chunk.insert(chunk.cbegin() + qsizetype(position.at), entry);
}

void ValueIndex::erase(int row, const ColumnCells &cells)
{
    const quint32 stamp = stampOf(row);
    if (stamp == 0)
        return;
    Position position = seek(IndexKey::of(cells.at(row)), stamp, cells);
    if (position.chunk == chunks.size() || chunks[position.chunk][position.at].row != row) {
        // Only a cell changed behind the index's back leads here: find the
        // entry the slow way rather than leave it to name a gone row.
        Q_ASSERT(false);
        for (position.chunk = 0; position.chunk < chunks.size(); ++position.chunk) {
            const std::vector<Entry> &chunk = chunks[position.chunk];
            const auto found = std::find_if(chunk.cbegin(), chunk.cend(), [row](const Entry &e) { return e.row == row; });
            if (found != chunk.cend()) {
                position.at = size_t(found - chunk.cbegin());
                break;
            }
        }
        if (position.chunk == chunks.size())
            return;
    }
    removeAt(position);
    setStamp(row, 0);
    --count;
    if (isUnusual(cells.at(row)))
        --unusualCells;
}

void ValueIndex::removeAt(Position position)
{
    std::vector<Entry> &chunk = chunks[position.chunk];
    chunk.erase(chunk.cbegin() + qsizetype(position.at));
    if (chunk.empty()) {
        chunks.erase(chunks.cbegin() + qsizetype(position.chunk));
        return;
    }
    // A chunk that ran low takes in its small successor, so that removals
    // do not leave many near-empty chunks behind.
    const size_t next = position.chunk + 1;
    if (chunk.size() < chunkCapacity / 4 && next < chunks.size()
        && chunk.size() + chunks[next].size() <= chunkCapacity / 2) {
        chunk.insert(chunk.cend(), chunks[next].cbegin(), chunks[next].cend());
        chunks.erase(chunks.cbegin() + qsizetype(next));
    }
}

void ValueIndex::renumber()
{
    // The first entry gets the highest stamp: among equal keys the order stays.
    quint32 stamp = quint32(count);
    for (std::vector<Entry> &chunk : chunks) {
        for (Entry &entry : chunk) {
            entry.stamp = stamp;
            stamps[size_t(entry.row)] = stamp;
            --stamp;
        }
    }
    lastStamp = quint32(count);
}

void ValueIndex::assign(std::vector<Entry> &&sorted, size_t unusual)
{
    unusualCells = unusual;
    chunks.clear();
    stamps.clear();
    int lastRow = 0;
    for (const Entry &entry : sorted)
        lastRow = std::max(lastRow, entry.row);
    stamps.resize(size_t(lastRow) + 1, 0);
    // Full chunks: the least memory, and a chunk splits at its first insertion.
    for (size_t from = 0; from < sorted.size(); from += chunkCapacity) {
        const size_t to = std::min(sorted.size(), from + chunkCapacity);
        chunks.emplace_back(sorted.cbegin() + qsizetype(from), sorted.cbegin() + qsizetype(to));
    }
    count = sorted.size();
    sorted = std::vector<Entry>();
    renumber();
}

bool ValueIndex::isUnusual(const QVariant &cell)
{
    switch (cell.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Bool:
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QDateTime:
        return false;
    default:
        return !isNullValue(cell);
    }
}
