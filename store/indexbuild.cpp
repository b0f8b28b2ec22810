// Building value indexes whole, from the parts of the keys their entries hold.

#include "indexbuild_p.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>
#include <variant>

namespace {

using store_internal::IndexEntry;

// Tables with fewer rows build their indexes on the calling thread alone.
constexpr qsizetype parallelRows = 20000;

// A hint to fetch the memory at `address` into the cache; it changes nothing.
inline void prefetch(const void *address)
{
    __builtin_prefetch(address);
}

// Runs task(0) to task(count - 1), each once, on this thread and up to
// `threads` - 1 helper threads. Without helpers (none wanted, or none to be
// had) this thread runs them all.
void runTasks(size_t count, size_t threads, const std::function<void(size_t)> &task)
{
    std::atomic<size_t> next{0};
    const auto work = [&next, count, &task] {
        for (size_t i = next++; i < count; i = next++)
            task(i);
    };
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < std::min(threads, count); ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error &) {
            break;
        }
    }
    work();
    for (std::thread &helper : helpers)
        helper.join();
}

// By the parts of the keys that the entries hold, and the higher row number
// first where those are equal: the order of the finished index as far as
// they decide it.
bool partsBefore(const IndexEntry &a, const IndexEntry &b)
{
    if (a.number != b.number)
        return a.number < b.number;
    if (a.head != b.head)
        return a.head < b.head;
    return a.row > b.row;
}

bool samePart(const IndexEntry &a, const IndexEntry &b)
{
    return a.number == b.number && a.head == b.head;
}

// Entries of equal parts, ordered by their whole keys read from the cells:
// ascending, the higher row first among index-equal keys (as they come).
// Each key is made once; a run of one value (nulls, a type name) is only
// compared, not sorted.
void orderRun(std::vector<IndexEntry>::iterator first, std::vector<IndexEntry>::iterator last,
              const ColumnCells &cells)
{
    std::vector<IndexKey> keys;
    keys.reserve(size_t(last - first));
    bool allEqual = true;
    for (auto it = first; it != last; ++it) {
        keys.push_back(IndexKey::of(cells.at(it->row)));
        allEqual = allEqual && IndexKey::compare(keys.front(), keys.back()) == 0;
    }
    if (allEqual)
        return;
    std::vector<size_t> order(keys.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&keys](size_t a, size_t b) { return IndexKey::compare(keys[a], keys[b]) < 0; });
    std::vector<IndexEntry> run(first, last);
    for (size_t i = 0; i < order.size(); ++i)
        first[qsizetype(i)] = run[order[i]];
}

// Ascending keys, and among index-equal keys the higher row number first, as
// if the rows had been entered in ascending order, each before its equals;
// `order` comes in row order. Sorted by the entries' own parts first, which
// decide nearly every pair: only runs of equal parts that are not all
// integers read their cells.
void sortEntries(std::vector<IndexEntry> &order, const ColumnCells &cells)
{
    if (!std::is_sorted(order.cbegin(), order.cend(), partsBefore)) {
        // Keys that never rise from row to row (ids made here count down)
        // need only turning round: the entries come in row order, so equal
        // parts then come the higher row first.
        const auto rises = [](const IndexEntry &a, const IndexEntry &b) {
            return !samePart(a, b) && partsBefore(a, b);
        };
        if (std::adjacent_find(order.cbegin(), order.cend(), rises) == order.cend())
            std::reverse(order.begin(), order.end());
        else
            std::sort(order.begin(), order.end(), partsBefore);
    }
    for (auto from = order.begin(); from != order.end();) {
        auto to = from + 1;
        bool integers = from->decimal;
        for (; to != order.end() && samePart(*from, *to); ++to)
            integers = integers && to->decimal;
        // Integers with equal numbers have equal keys.
        if (to - from > 1 && !integers)
            orderRun(from, to, cells);
        from = to;
    }
}

} // namespace

namespace store_internal {

IndexEntry IndexEntry::of(const IndexKey &key, int row)
{
    return IndexEntry{key.number,
                      key.head,
                      row,
                      std::holds_alternative<std::monostate>(key.bytes),
                      std::holds_alternative<QString>(key.bytes),
                      key.plain};
}

IndexEntry IndexEntry::ofInteger(qint64 number, int row)
{
    return IndexEntry{number, 0, row, true, false, true};
}

void sortIntoIndexOrder(std::vector<IndexEntry> &entries, const ColumnCells &cells,
                        std::vector<ValueIndex::Entry> &sorted)
{
    // Among integers alone the heads decide nothing: equal numbers have
    // equal texts. Beside keys of other kinds they do, and are made then.
    const auto other = [](const IndexEntry &entry) { return !entry.decimal; };
    if (std::any_of(entries.cbegin(), entries.cend(), other)) {
        for (IndexEntry &entry : entries) {
            if (entry.decimal && entry.head == 0)
                entry.head = IndexKey::decimalHead(entry.number);
        }
    }
    sortEntries(entries, cells);
    for (const IndexEntry &entry : entries)
        sorted.push_back(ValueIndex::entryOf(entry.number, entry.head, entry.decimal, entry.text, entry.plain, entry.row));
    entries = std::vector<IndexEntry>();
}

std::vector<ValueIndex> buildIndexesOf(const TableRows &rows, const std::vector<int> &wanted, bool waited)
{
    std::vector<ValueIndex> indexes(wanted.size());
    if (rows.isEmpty() || wanted.empty())
        return indexes;

    // First the keys, for every column in one walk over the rows: the walk
    // costs more than the sorting, since each row's cells and texts lie apart
    // in memory, so it reads some rows ahead of itself. A large table is
    // walked in ranges of row numbers side by side. The helpers only read the
    // rows and write their own range's keys.
    //
    // Every buffer is made here, before the helpers start: what a helper
    // thread allocates stays in its own heap, which gives little back to the
    // system once freed, where this thread's heap gives it all back.
    const size_t threads =
        !waited || rows.size() < parallelRows ? 1 : size_t(std::max(1, QThread::idealThreadCount()));
    const int firstRow = rows.next(0);
    const qint64 span = qint64(rows.last()) - firstRow + 1;
    std::vector<int> rangeStarts;
    for (size_t range = 0; range <= threads; ++range)
        rangeStarts.push_back(int(firstRow + span * qint64(range) / qint64(threads)));
    // ranges[range][column]
    std::vector<std::vector<std::vector<IndexEntry>>> ranges(threads,
                                                             std::vector<std::vector<IndexEntry>>(wanted.size()));
    for (size_t range = 0; range < threads; ++range) {
        for (std::vector<IndexEntry> &entries : ranges[range])
            entries.reserve(size_t(rangeStarts[range + 1] - rangeStarts[range]));
    }
    std::vector<std::vector<size_t>> unusual(threads, std::vector<size_t>(wanted.size(), 0));
    runTasks(threads, threads, [&](size_t range) {
        std::vector<std::vector<IndexEntry>> &out = ranges[range];
        constexpr int ahead = 16;
        const int end = rangeStarts[range + 1];
        for (int row = rangeStarts[range]; row < end; ++row) {
            // Cells some rows ahead, and the texts of cells half as far ahead.
            if (const RowCells *later = row + ahead < end ? rows.find(row + ahead) : nullptr) {
                for (const int column : wanted)
                    prefetch(later->constData() + column);
            }
            if (const RowCells *later = row + ahead / 2 < end ? rows.find(row + ahead / 2) : nullptr) {
                for (const int column : wanted) {
                    if (const void *text = later->constData()[column].textData())
                        prefetch(text);
                }
            }
            const RowCells *cells = rows.find(row);
            if (!cells)
                continue;
            for (size_t c = 0; c < wanted.size(); ++c) {
                const QVariant cell = cells->at(wanted[c]);
                if (ValueIndex::isUnusual(cell))
                    ++unusual[range][c];
                out[c].push_back(IndexEntry::of(IndexKey::of(cell), row));
            }
        }
    });

    // Then the columns side by side, each helper with its own.
    std::vector<std::vector<IndexEntry>> orders(wanted.size());
    std::vector<std::vector<ValueIndex::Entry>> sorted(wanted.size());
    for (size_t c = 0; c < wanted.size(); ++c) {
        orders[c].reserve(size_t(rows.size()));
        sorted[c].reserve(size_t(rows.size()));
    }
    runTasks(wanted.size(), threads, [&](size_t c) {
        std::vector<IndexEntry> &order = orders[c];
        for (std::vector<std::vector<IndexEntry>> &range : ranges) {
            order.insert(order.end(), range[c].cbegin(), range[c].cend());
            range[c] = std::vector<IndexEntry>();
        }
        sortIntoIndexOrder(order, ColumnCells{rows, wanted[c]}, sorted[c]);
    });
    // The indexes that stay are made last, so that they take the room the
    // scratch buffers left at the top of the heap rather than keep the
    // freed buffers above them from going back to the system.
    for (size_t c = 0; c < wanted.size(); ++c) {
        size_t unusualCells = 0;
        for (const std::vector<size_t> &counts : unusual)
            unusualCells += counts[c];
        indexes[c].assign(std::move(sorted[c]), unusualCells);
    }
    return indexes;
}

} // namespace store_internal
