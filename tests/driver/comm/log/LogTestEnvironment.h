#pragma once
// Shared set-up of the debug log tests: a QApplication for the terminal window and a
// temporary Setvault INI file, both for the whole test program.

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

#include "setvault/Setvault.h"

class LogTestEnvironment {
  public:
    static LogTestEnvironment& get() {
        static LogTestEnvironment environment;
        return environment;
    }
    QString tempPath(const QString& name) const { return dir_.filePath(name); }

  private:
    LogTestEnvironment() {
        setenv("SETVAULT_INI", dir_.filePath("setvault.ini").toLocal8Bit().constData(), 1);
        static int argc = 1;
        static char name[] = "driver_log_test";
        static char* argv[] = {name, nullptr};
        // Kept for the life of the process: a QApplication destroyed by the exit handlers
        // would outlive Qt's own global state.
        new QApplication(argc, argv);
    }

    QTemporaryDir dir_;
};
