#pragma once

// One answer to a commit: read on any thread into its head (every member but
// the change lists) and compact change entries, then applied to the store on
// the GUI thread in slices, so that a whole account never blocks the window
// nor sits in memory as a tree of maps. Internal to the sync engine.

#include "engine.h"
#include "jsoncodec.h"
#include "storelock.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

class CommitAnswer
{
public:
    // Reads the JSON text of an answer. Entries that are malformed on their
    // own (no server id) are logged and left out here.
    static std::shared_ptr<CommitAnswer> read(const QByteArray &body);

    // Whether the text was one JSON object; nothing else of it counts then.
    bool isObject() const { return object; }
    const QVariantMap &head() const { return members; }
    // "result" as a code 0..5; anything else (or no object) is 1.
    int resultCode() const;
    // "more": the service has further changes for the next poll.
    bool hasMore() const;
    // Whether this page moves the sync state on from `sent` (the "state" the
    // commit carried): a whole number above it, and every change list an
    // array. Only such a page lets the next one follow at once.
    bool movesStateFrom(const QString &sent) const;

    // Applies the next part of a result-0 answer: the translations of the
    // commit's creates, the records the commit carried, then the remote
    // changes. Its work under storeMutex stops after about `budgetMs`
    // milliseconds or `maxEntries` entries, then the watchers hear of it with
    // the lock released. True once all of it is applied, the sync state last.
    bool applySlice(int budgetMs, int maxEntries = std::numeric_limits<int>::max());
    // Remote changes applied so far, and the time storeMutex was held.
    int appliedChanges() const { return applied; }
    qint64 lockNanoseconds() const { return lockNs; }

private:
    struct Create
    {
        Id id;
        QString type;
    };
    struct Set
    {
        Id id;
        QString member;
        QVariant value;
    };
    struct Notice;
    // The item the last sets named (an account's sets come item by item):
    // where it is stored and the members its watchers look at.
    struct Target
    {
        Id id = 0;
        QString type;
        int table = -1;
        int row = 0;
        bool localSets = false; // it has changes still to be sent
        QVariantMap watchedBefore;
    };

    void take(const QString &key, JsonCodec::StreamedElement &entry);
    // Reads "translate" into candidates (any thread).
    void readTranslations();
    // Each translates or drops entries until `more` says stop; true when done.
    bool applyTranslations(const StoreLock &lock, const std::function<bool()> &more);
    bool dropSentRows(const StoreLock &lock, const std::function<bool()> &more);
    void applyCreate(const StoreLock &lock, const Create &entry, QList<Notice> &notices);
    void applySet(const StoreLock &lock, const Set &entry, QList<Notice> &notices);
    void applyRemove(const StoreLock &lock, Id id, QList<Notice> &notices);
    void setFileMember(const StoreLock &lock, Id id, int table, int row, int column, const QString &member,
                       const QVariant &value, const QVariant &old, QList<Notice> &notices);
    bool aimAt(const StoreLock &lock, Id id);
    // What a member name means in a table, worked out once per slice.
    struct MemberInfo
    {
        int column = -1;
        bool id = false;       // holds item ids
        bool file = false;     // holds a stored file's name
        bool dateTime = false; // holds date-times
        bool watched = false;  // some watcher's filter names it
    };
    const MemberInfo &infoOf(const StoreLock &lock, int table, const QString &member);

    bool object = false;
    QVariantMap members;
    std::deque<Create> creates;
    std::deque<Set> sets;
    std::deque<Id> removes;
    // One string per member name, kept while the answer lives: its data
    // pointer then names the member in memberInfo.
    QHash<QString, QString> memberNames;
    QSet<QString> watched;               // member names the watchers look at (this slice)
    Target target;
    bool localSets = false;    // any change waits to be sent (this slice)
    bool localRemoves = false; // any removal waits to be sent (this slice)
    QHash<QPair<int, const void *>, MemberInfo> memberInfo;

    // The entries of "translate" as read, each with its ids; a server id
    // that two keys take counts as none for either. They are checked against
    // the store in slices.
    struct Candidate
    {
        QString key;
        Id local;
        bool localOk;
        QVariant value;
        Id server;
        bool serverOk;
    };
    std::vector<Candidate> candidates;
    size_t checked = 0;
    bool translateNotObject = false;
    // The sound translations, by local id (each slice takes a run of them,
    // so that the ids it rewrites lie in one span), and the creates of the
    // commit that got none: their records stay.
    std::vector<std::pair<Id, Id>> translations;
    size_t translated = 0;
    bool translationsRead = false;
    bool translationsChecked = false;
    QSet<Id> untranslated;

    enum class Phase { Translations, SentRows, Changes, State, Done };
    Phase phase = Phase::Translations;
    int applied = 0;
    int appliedAtFlush = 0;
    qint64 lockNs = 0;
};
