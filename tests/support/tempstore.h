#pragma once

#include <QTemporaryDir>

// A data folder of its own for one test, removed afterwards.
class TempStore
{
public:
    TempStore();
    ~TempStore();
    Q_DISABLE_COPY(TempStore)
    QString path() const { return dir.path(); }
    bool isValid() const { return dir.isValid(); }

private:
    QTemporaryDir dir;
};
