#pragma once

// Builds the annotation item of a stored row by the row's table.

#include "engine.h"

#include <functional>

class Skrin;
class SkrinItem;

// The kind's item for one row of `table`, owned by `skrin`; null (with a log
// line) for a table that has no kind.
SkrinItem *createSkrinItem(const QString &table, Id id, Skrin *skrin);

// An item just drawn by the user starts editing its text, all of it selected
// (kinds with text only; others ignore it).
void startEditingNewItem(SkrinItem *item);

// Replaces the kind built for `table` (an empty maker restores the built-in
// one). Lets a host program or a test bring a kind of its own.
using SkrinItemMaker = std::function<SkrinItem *(Id id, Skrin *skrin)>;
void setSkrinItemMaker(const QString &table, SkrinItemMaker maker);
