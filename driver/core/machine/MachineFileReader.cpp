#include "driver/core/machine/MachineFileReader.h"

#include <QDomDocument>
#include <QDomElement>
#include <QString>
#include <algorithm>
#include <initializer_list>
#include <map>

#include "common/XmlLimits.h"
#include "driver/core/machine/MachineValues.h"

using namespace machinefile;

namespace {

QString Tag(const char* name) {
    return QString::fromLatin1(name);
}

QDomElement Child(const QDomElement& parent, const char* tag) {
    if (parent.isNull())
        return {};
    return parent.firstChildElement(Tag(tag));
}

// Notes the child elements of `parent` that its reader does not use: unknown tags, and
// repeats of a known tag (the reader uses the first one, or with lastWins the last one).
void NoteIgnored(const QDomElement& parent, const QString& path,
                 std::initializer_list<const char*> known, bool lastWins,
                 std::vector<std::wstring>& notes) {
    std::map<QString, int> seen;
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        ++seen[e.tagName()];
    for (const auto& [tag, count] : seen) {
        const QString where = path.isEmpty() ? tag : path + '/' + tag;
        bool isKnown = false;
        for (const char* name : known)
            isKnown = isKnown || tag == QLatin1String(name);
        QString note;
        if (!isKnown)
            note = where + " is not read by the driver";
        else if (count > 1)
            note = where + QString(" appears %1 times: ").arg(count) +
                   (lastWins ? "the last one decides" : "only the first one is read");
        // Groups read from several Data children would repeat the same note.
        if (!note.isEmpty() &&
            std::find(notes.begin(), notes.end(), note.toStdWString()) == notes.end())
            notes.push_back(note.toStdWString());
    }
}

// Reads the values of one element group, recording which came from the file.
class GroupReader {
  public:
    GroupReader(const QDomElement& parent, ValueOrigins& origins)
        : parent_(parent), origins_(origins) {}

    void Integer(const char* name, int fallback, int& out) {
        Take(name, ScanInteger(Trimmed(name)), fallback, out);
    }
    void Real(const char* name, double fallback, double& out) {
        Take(name, ScanReal(Trimmed(name)), fallback, out);
    }
    void Boolean(const char* name, bool fallback, bool& out) {
        Take(name, ScanBoolean(Trimmed(name)), fallback, out);
    }
    void Text(const char* name, std::wstring& out) {
        const QDomElement e = Child(parent_, name);
        out = e.text().trimmed().toStdWString();
        Mark(name, !e.isNull());
    }

  private:
    std::wstring Trimmed(const char* name) const {
        return Child(parent_, name).text().trimmed().toStdWString();
    }
    template <typename T>
    void Take(const char* name, const std::optional<T>& value, T fallback, T& out) {
        out = value.value_or(fallback);
        Mark(name, value.has_value());
    }
    void Mark(const char* name, bool fromFile) {
        if (fromFile)
            origins_.insert(name);
        else
            origins_.erase(std::string(name));
    }

    QDomElement parent_;
    ValueOrigins& origins_;
};

void ReadMisc(const QDomElement& misc, MachineConfig& config) {
    MachineMisc& m = config.misc;
    m.cmm = misc.attribute(Tag(kMachineNameAttribute)).toStdWString();
    NoteIgnored(misc, Tag(kMisc), {kData}, true, config.ignoredElements);
    for (QDomElement data = Child(misc, kData); !data.isNull();
         data = data.nextSiblingElement(Tag(kData))) {
        GroupReader r(data, m.fromFile);
        r.Integer(kAxisX, kDefaultAxisX, m.AxisX);
        r.Integer(kAxisY, kDefaultAxisY, m.AxisY);
        r.Integer(kAxisZ, kDefaultAxisZ, m.AxisZ);
        r.Boolean(kHasJogbox, false, m.HasJogbox);
        r.Boolean(kHasRotaryTable, false, m.HasRotaryTable);
        r.Boolean(kReadoutButton, false, m.ReadoutButton);
        r.Integer(kRequestInterval, kDefaultRequestInterval, m.requestIntervalWritten);
        m.RequestInterval = static_cast<std::uint16_t>(m.requestIntervalWritten);
        r.Boolean(kReverseIJKVector, false, m.ReverseIJKVector);
        r.Text(kStartEXE, m.StartEXE);
        r.Text(kTransport, m.Transport);
        r.Real(kScaleX, kDefaultScale, m.ScaleX);
        r.Real(kScaleY, kDefaultScale, m.ScaleY);
        r.Real(kScaleZ, kDefaultScale, m.ScaleZ);
        r.Real(kScaleW, kDefaultScale, m.ScaleW);
        r.Boolean(kAutoResetCounters, false, m.AutoResetCounters);
        NoteIgnored(data, Tag(kMisc) + '/' + Tag(kData),
                    {kAxisX, kAxisY, kAxisZ, kHasJogbox, kHasRotaryTable, kReadoutButton,
                     kRequestInterval, kReverseIJKVector, kStartEXE, kTransport, kScaleX, kScaleY,
                     kScaleZ, kScaleW, kAutoResetCounters},
                    false, config.ignoredElements);
    }
}

// InitializationSequence and HomingSequence: the Command of the last Data counts.
void ReadSequence(const QDomElement& sequence, const char* group, MachineConfig& config,
                  std::wstring& out) {
    NoteIgnored(sequence, Tag(group), {kData}, true, config.ignoredElements);
    for (QDomElement data = Child(sequence, kData); !data.isNull();
         data = data.nextSiblingElement(Tag(kData))) {
        const QDomElement command = Child(data, kCommand);
        out = command.text().toStdWString();  // sent as written
        if (command.isNull())
            config.textsFromFile.erase(std::string(group));
        else
            config.textsFromFile.insert(group);
        NoteIgnored(data, Tag(group) + '/' + Tag(kData), {kCommand}, false, config.ignoredElements);
    }
}

struct NamedText {
    const char* name;
    std::wstring* target;
};

// Commands and Replies: every child with a known tag stores the text of its value element.
void ReadTexts(const QDomElement& group, const char* groupName, const char* valueName, bool trim,
               std::initializer_list<NamedText> texts, MachineConfig& config) {
    for (QDomElement child = group.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        for (const NamedText& text : texts) {
            if (child.tagName() != QLatin1String(text.name))
                continue;
            const QDomElement value = Child(child, valueName);
            const QString content = value.text();
            *text.target = (trim ? content.trimmed() : content).toStdWString();
            if (value.isNull())
                config.textsFromFile.erase(std::string(text.name));
            else
                config.textsFromFile.insert(text.name);
            NoteIgnored(child, Tag(groupName) + '/' + child.tagName(), {valueName}, false,
                        config.ignoredElements);
        }
    }
}

void ReadCommInfo(const QDomElement& commInfo, MachineConfig& config) {
    const QString transport = QString::fromStdWString(config.misc.Transport);
    for (QDomElement child = commInfo.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        config.commInfoTags.push_back(tag.toStdWString());
        if (tag != transport)
            continue;
        const QString path = Tag(kCommInfo) + '/' + tag;
        if (tag == QLatin1String(kGpib)) {
            GpibSettings gpib;
            GroupReader r(child, gpib.fromFile);
            r.Text(kController, gpib.Controller);
            r.Text(kJogbox, gpib.Jogbox);
            NoteIgnored(child, path, {kController, kJogbox}, false, config.ignoredElements);
            config.channels.emplace_back(std::move(gpib));
        } else if (tag == QLatin1String(kSerial)) {
            SerialSettings serial;
            GroupReader r(child, serial.fromFile);
            int terminator = kDefaultTerminator;
            r.Text(kDevice, serial.Device);
            r.Integer(kBaud, kDefaultBaud, serial.Baud);
            r.Text(kParity, serial.Parity);
            r.Integer(kStopBits, kDefaultStopBits, serial.StopBits);
            r.Integer(kSize, kDefaultDataBits, serial.Size);
            r.Integer(kTerminator, kDefaultTerminator, terminator);
            serial.Terminator = static_cast<char>(terminator);
            NoteIgnored(child, path, {kDevice, kBaud, kParity, kStopBits, kSize, kTerminator},
                        false, config.ignoredElements);
            config.channels.emplace_back(std::move(serial));
        } else if (tag == QLatin1String(kTcp)) {
            TcpSettings tcp;
            GroupReader r(child, tcp.fromFile);
            r.Text(kAddress, tcp.address);
            r.Integer(kPort, kDefaultTcpPort, tcp.port);
            NoteIgnored(child, path, {kAddress, kPort}, false, config.ignoredElements);
            config.channels.emplace_back(std::move(tcp));
        }
    }
}

MachineConfig Interpret(const QDomElement& root) {
    MachineConfig config;
    NoteIgnored(root, QString(),
                {kMisc, kInitializationSequence, kHomingSequence, kCommands, kReplies, kCommInfo},
                false, config.ignoredElements);
    ReadMisc(Child(root, kMisc), config);
    ReadSequence(Child(root, kInitializationSequence), kInitializationSequence, config,
                 config.initializationCommand);
    ReadSequence(Child(root, kHomingSequence), kHomingSequence, config, config.homingCommand);
    MachineCommands& c = config.commands;
    ReadTexts(Child(root, kCommands), kCommands, kCommand, false,
              {{kTakeHit, &c.TakeHit},
               {kGetPosition, &c.GetPosition},
               {kRotateTable, &c.RotateTable},
               {kManualScan, &c.ManualScan}},
              config);
    NoteIgnored(Child(root, kCommands), Tag(kCommands),
                {kTakeHit, kGetPosition, kRotateTable, kManualScan}, true, config.ignoredElements);
    MachineReplies& r = config.replies;
    ReadTexts(Child(root, kReplies), kReplies, kReply, true,
              {{kHitReply, &r.HitReply},
               {kPositionReply, &r.PositionReply},
               {kRotateReply, &r.RotateReply},
               {kScanReply, &r.ScanReply}},
              config);
    NoteIgnored(Child(root, kReplies), Tag(kReplies),
                {kHitReply, kPositionReply, kRotateReply, kScanReply}, true,
                config.ignoredElements);
    ReadCommInfo(Child(root, kCommInfo), config);
    return config;
}

MachineFileResult Load(QDomDocument& document, const QByteArray& xml, const std::wstring& name) {
    MachineFileResult result;
    QString message;
    int line = 0;
    int column = 0;
    if (!xmllimits::SetContent(document, xml, &message, &line, &column)) {
        const QString where = QString::fromStdWString(name);
        result.error = (line > 0 ? QString("%1, line %2, column %3: %4")
                                       .arg(where)
                                       .arg(line)
                                       .arg(column)
                                       .arg(message)
                                 : QString("%1: %2").arg(where, message))
                           .toStdWString();
        return result;
    }
    const QDomElement root = document.documentElement();
    if (root.isNull()) {
        result.error = QString::fromStdWString(name + L": no root element").toStdWString();
        return result;
    }
    result.config = Interpret(root);
    result.ok = true;
    return result;
}

}  // namespace

MachineFileResult ReadMachineFile(const std::wstring& path) {
    QByteArray xml;
    QString problem;
    if (!xmllimits::ReadFile(QString::fromStdWString(path), xml, &problem)) {
        MachineFileResult result;
        result.error = problem.toStdWString();
        return result;
    }
    QDomDocument document;
    return Load(document, xml, path);
}

MachineFileResult ReadMachineText(const std::string& xml, const std::wstring& name) {
    QDomDocument document;
    return Load(document, QByteArray::fromStdString(xml), name);
}
