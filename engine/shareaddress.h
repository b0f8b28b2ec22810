#pragma once

// Share handles, public links, the web service's page addresses, and the
// account dialogs' syntax checks and password hash.

#include "engine.h"

#include <QString>

// The characters of share handles, which are also the digits of base-36 text
// (position = digit value).
extern const QString handleAlphabet;

// A new 5-character handle that no local row holds. GUI thread.
QString randomHandle();
// Whether a `handle` cell of a synced table holds `handle`.
bool isHandleInUse(const QString &handle);
// Base-36 text over handleAlphabet, most significant digit first, never
// beginning with a letter: 0 -> "0", 10 -> "0q", 36 -> "10". A negative value
// gives "-" followed by the text of its magnitude.
QString encodeBase36(qint64 value);
// The public link of `item` from the service's "handle_url" template; "" while
// the service has not sent one.
QString shareUrl(Id item, const QString &handle);
// 40 lower-case hex digits of the SHA-1 of the text's Latin-1 bytes, every
// character beyond Latin-1 counting as '?'. Stored password hashes depend on
// exactly this rule.
QString sha1Hex(const QString &text);
bool isValidMail(const QString &text);
bool isValidPassword(const QString &text);

// Pages of the web service (always on the default server, whatever the
// "server" option says). %UID% is the logged-in user's id in base 36.
QString extendPageUrl();
QString upgradeMorePageUrl();
QString upgradePageUrl();
QString tosPageUrl();
QString registerFacebookPageUrl();
QString createAccountPageUrl();
QString helpPageUrl();
QString lostPasswordPageUrl();
QString loginPageUrl();
QString resendPageUrl();
QString sharePageUrl(qint64 ownerId, const QString &handle, const QString &type);
