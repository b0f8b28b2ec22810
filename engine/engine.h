#pragma once

// The item engine: the store API that the rest of the program uses. Items are
// addressed by `Id`, have a type (the name of the table holding their
// members) and named members. Ids below 0 were made on this installation and
// stay usable after the web service has given the item its own id.
//
// Every function here may be called from any thread unless its comment says
// otherwise. Bad input gives the neutral result (0, false, "", a null value,
// an empty list) and changes nothing.

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

// 64-bit item identifier; negative values are local ids not yet known to the
// web service. Registered as the Qt type name "Id" (registerEngineTypes).
using Id = qint64;
// Handle of one HTTP request, counted up from 1.
using ConnectionId = int;
// Member name -> wanted value. A null wanted value (isNullValue) asks for a
// member that is set.
using WatchFilter = QVariantMap;

// Registers "Id" with Qt so that queued signals can carry it. Idempotent.
void registerEngineTypes();

// Reads an id from a variant exactly: integers as they are, texts holding an
// integer, doubles holding an integral value within range. Anything else
// (2.7, "abc", 1e300, a list) sets *ok to false and gives 0. A null value gives
// 0 with *ok true: "no item".
Id idFromVariant(const QVariant &value, bool *ok = nullptr);

// --- Engine globals -----------------------------------------------------------

QString engineVersion();
QStringList syncedTableNames();
bool closeQuitsApplication();
bool isAnyWindowVisible(); // GUI thread
QString defaultServerUrl();
QString dataDirectory(bool portable);
// Looks up the table and column numbers the engine works with. GUI thread,
// after the store was opened or reset, while no worker uses the store.
void bindTables();
// Requests to the sync engine (syncservice.h); nothing while none is registered.
void emitResetSignals();
void requestCommit();
void emitWrongVersion();
// Stops the sync engine, waits for the thread pool and closes the store.
// False when the last changes could not be written: the program should tell
// the user before it exits.
bool shutdownBackground();

// Empties the store (Database::reset), binds the tables again and tells every
// watcher that each item it knew was removed. The id maps are cleared, since
// no stored row carries a translated id any more. False (with the reason in
// `error`) when the store could not be opened again; nothing is told then.
// GUI thread.
bool resetStoreAndNotify(QString *error = nullptr);

// --- Options ------------------------------------------------------------------

QVariant optionValue(const QString &name, const QVariant &defaultValue = QVariant());
void setOption(const QString &name, const QVariant &value);
QVariant serverOptionValue(const QString &name, const QVariant &defaultValue = QVariant());
Id userId();

// --- Items, members and ids -------------------------------------------------
//
// The functions below take storeMutex themselves (it is not recursive): never
// call them while holding it. Code that works under the lock (the sync
// engine's answer handling) uses the forms in storelock.h.

Id createItem(const QString &type);
// createItem followed by setMember of every entry, in one step: one store
// write that a flush takes whole, one "modified" time for all the members'
// change records, and watchers hear the item arrive once, with its members
// (onPlus/onInit where the finished item matches, no onSet for the entries).
// Entries setMember would refuse or ignore are left out the same way.
Id createItemWithMembers(const QString &type, const QVariantMap &members);
QVariant getMember(Id id, const QString &member);
// A new random token (32 hex digits) that tells one create record from any
// other that reuses its local id (a copied or restored data folder); each
// create record gets one, written with it.
QString newCreateToken();
QVariantMap readItem(Id id, bool raw = false);
void setMember(Id id, const QString &member, const QVariant &value);
void setMemberFile(Id id, const QString &member, const QByteArray &bytes);
void removeItem(Id id);
QString itemType(Id id);
qint64 itemOwner(Id id);
bool isItemOfType(Id id, const QString &type);
int syncedTableId(const QString &name);
int syncedTableOfItem(Id id);

bool isIdMember(const QString &member);
bool isFileMember(const QString &member);
bool isHandleMember(const QString &member);
bool isParentMember(const QString &member);

// --- Queries and favourites ---------------------------------------------------

QList<Id> findItems(const WatchFilter &filter);
// Every item of one type with the cells of `members` as stored (ids as the
// program knows them; a member the type lacks gives null cells), from one
// walk over the type's table: choosing among many items by a member or two
// needs no item read whole. Column by column: `columns` holds one list per
// member, in the order of `ids`.
struct TypeColumns
{
    QList<Id> ids;
    QList<QVector<QVariant>> columns;
};
TypeColumns readMembersOfType(const QString &type, const QStringList &members);
Id findFirstItem(const WatchFilter &filter);
QVariantMap readFirstItem(const WatchFilter &filter);
QVariantList readItems(const WatchFilter &filter);
QList<Id> childItems(Id id);
void removeItemTree(Id id);
bool isFavourite(Id id);
void setFavourite(Id id, bool on);
QPixmap itemPixmap(Id id, const QString &member); // GUI thread
QByteArray itemFileData(Id id, const QString &member);
WatchFilter &withMember(WatchFilter &filter, const QString &member, const QVariant &value);
WatchFilter &withMembers(WatchFilter &filter, const QString &members);
