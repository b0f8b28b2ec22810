#pragma once

// Server options (items of type "server_option", synchronised with the web
// service) and the account values derived from them. The getters themselves,
// optionValue and serverOptionValue, are declared in engine.h.

#include <QString>
#include <QVariant>

// Writes `value` into every server option called `name`, creating one when
// none exists. Unchanged values record nothing for the next commit.
void setServerOption(const QString &name, const QVariant &value);
// Keeps one server option of each name (names compared case-sensitively):
// the one with the smallest server id, or the first in row order when none
// has a server id yet. The others are removed as items, so that the next
// commit deletes them on the service too. The sync engine calls it after every
// commit answer.
void removeDuplicateServerOptions();

// The server's e-mail when it sent a non-empty one, else the local option.
QString userMail();
bool isPaidAccount();
// A free account never expires; a paid one without "days_left" has.
bool isAccountExpired();
bool isPaidAccountActive();
// Largest file the account may upload, in bytes (5 MiB unless the service
// says otherwise).
int fileLimit();
int minPasswordLength();
// Screenshots stored locally, trashed ones included.
int skrinCount();

// The running platform's name as the service knows it: "win", "linux" or
// "mac". It prefixes the per-platform hot key options.
QString platformName();
// `key` under the running platform's prefix, e.g. "linux_shortcut_capture".
QString platformOptionKey(const QString &key);
// A hot key option: the platform's own entry, then the plain key, then
// `defaultValue`.
QVariant shortcutOptionValue(const QString &key, const QVariant &defaultValue);
// Hot keys are written for the running platform only.
void setShortcutOption(const QString &key, const QVariant &value);
