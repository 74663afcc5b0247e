#pragma once
// Opening compensation data files: the table, sync, DEA, grid and B&S files and the B&S key
// file.
//
// A data file is opened only when it is a regular file. A FIFO named as a data file would
// hold the load (and with it the host's start-up) until something writes to it, and a
// device could feed it without end; both are refused with a text that says so. Each reader
// then reads at most its format's own size. Platform calls stay in DataFile.cpp. Any
// thread; failures are results, nothing throws.

#include <QFile>
#include <QString>
#include <string>

enum class DataFileOpen {
    kOpened,
    kMissing,     // does not exist or cannot be opened
    kNotRegular,  // a FIFO, device, folder or socket: nothing was read
};

// Opens `path` read-only into `file` (which must be closed) when it names a regular file or
// a link to one.
DataFileOpen OpenDataFile(const QString& path, QFile& file);

// "PATH is not a regular file", for the reports of the readers.
std::wstring NotRegularFileText(const QString& path);
