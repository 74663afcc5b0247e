#include "server/app/VexCommandLineInfo.h"

void VexCommandLineInfo::ParseParam(const QString& parameter, bool isFlag, bool /*isLast*/) {
    if (isFlag && !parameter.isEmpty() &&
        (parameter.at(0) == QLatin1Char('R') || parameter.at(0) == QLatin1Char('r'))) {
        reset_ = true;
    }
}

void VexCommandLineInfo::ParseCommandLine(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString param = arguments.at(i);
        bool isFlag = param.startsWith(QLatin1Char('/')) || param.startsWith(QLatin1Char('-'));
        if (isFlag)
            param.remove(0, 1);
        ParseParam(param, isFlag, i + 1 == arguments.size());
    }
}
