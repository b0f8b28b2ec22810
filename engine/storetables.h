#pragma once

// The numbers of the tables and columns the engines work with, looked up by
// bindTables once the store is open or reset (-1 until then, so that nothing
// is found in a table that is not bound). They change only while no worker
// uses the store, so any thread may read them.

struct StoreTables
{
    int itemsTable = -1, itemsIdColumn = -1, itemsTypeColumn = -1, itemsOwnerColumn = -1;
    int optionsTable = -1, optionsNameColumn = -1, optionsValueColumn = -1;
    int downloadsTable = -1, downloadsUrlColumn = -1, downloadsIdColumn = -1, downloadsMemberColumn = -1;
    int uncommittedCreateTable = -1, uncommittedCreateIdColumn = -1, uncommittedCreateTokenColumn = -1;
    int uncommittedSetTable = -1, uncommittedSetIdColumn = -1, uncommittedSetMemberColumn = -1,
        uncommittedSetModifiedColumn = -1;
    int uncommittedRemoveTable = -1, uncommittedRemoveIdColumn = -1;
    int dirtSkrinTable = -1, dirtSkrinIdColumn = -1, dirtSkrinModifiedColumn = -1;
    int favouriteTable = -1, favouriteItemIdColumn = -1;
    int serverOptionTable = -1, serverOptionIdColumn = -1, serverOptionNameColumn = -1,
        serverOptionValueColumn = -1;
    int tooBigFilesTable = -1, tooBigFilesIdColumn = -1, tooBigFilesMemberColumn = -1,
        tooBigFilesFileColumn = -1;
};

const StoreTables &storeTables();
