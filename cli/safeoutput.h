#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A folder to write files below without ever leaving it: every step down is
// opened without following symbolic links, and each file is written to a
// temporary name and renamed into place, so it lands whole or not at all.
class SafeOutput
{
public:
    ~SafeOutput();

    // Creates the folder if needed and opens it. False, with `problem` set,
    // when it cannot.
    bool open(const QString &folder, QString &problem);

    // Writes `data` to the file at `components` below the folder, creating the
    // folders between. An existing file is replaced only with `overwrite`.
    // False, with `problem` set, when the file was not written.
    bool write(const QStringList &components, const QByteArray &data, bool overwrite,
               QString &problem);

private:
    int root = -1;
    unsigned counter = 0;
};
