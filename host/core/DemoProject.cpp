#include "host/core/DemoProject.h"

#include "host/core/Passwords.h"
#include "host/core/ProjectFile.h"
#include "host/core/ProjectWriter.h"

namespace host {

namespace {

// Data type codes of the host used by the demo.
constexpr int32_t kFloat = 5;
constexpr int32_t kInteger = 3;
constexpr int32_t kTextData = -1;
// Read/write codes.
constexpr int32_t kRead = 0;
constexpr int32_t kReadWrite = 2;

class IoBuilder {
  public:
    IoNode& group(std::vector<IoNode>& parent, std::string name) {
        parent.push_back(IoNode{std::move(name), std::nullopt, {}});
        return parent.back();
    }

    TagSpec& addTag(IoNode& group, std::string name, std::string unit, std::string description) {
        TagSpec tag;
        tag.id = ++lastId_;
        tag.name = name;
        tag.unit = std::move(unit);
        tag.description = std::move(description);
        // Most tags carry a GUID; every seventh shows a record without one.
        if (tag.id % 7 != 0) {
            tag.guid =
                kelvane::TGuid{0x4B560000u + static_cast<uint32_t>(tag.id),
                               0x10A2,
                               0x4C3D,
                               {0x8E, 0x51, 0x00, 0x1F, 0x29, 0x6A,
                                static_cast<uint8_t>(tag.id >> 8), static_cast<uint8_t>(tag.id)}};
        }
        group.children.push_back(IoNode{std::move(name), std::move(tag), {}});
        return *group.children.back().tag;
    }

    TagSpec& analog(IoNode& group, std::string name, std::string unit, std::string description,
                    int32_t decimals, DriveKind kind, double minimum, double maximum,
                    int32_t scanMs) {
        TagSpec& tag = addTag(group, std::move(name), std::move(unit), std::move(description));
        tag.sigType = kelvane::stNumeric;
        tag.dataType = kFloat;
        tag.decimals = decimals;
        tag.drive.kind = kind;
        tag.drive.minimum = minimum;
        tag.drive.maximum = maximum;
        tag.drive.scanMs = scanMs;
        if (kind == DriveKind::RandomWalk) {
            tag.drive.step = (maximum - minimum) / 40.0;
        }
        return tag;
    }

    TagSpec& list(IoNode& group, std::string name, std::string description,
                  std::vector<NamedValue> values, int32_t scanMs) {
        TagSpec& tag = addTag(group, std::move(name), "", std::move(description));
        tag.sigType = kelvane::stList;
        tag.dataType = kInteger;
        tag.values = std::move(values);
        tag.drive.kind = DriveKind::Cycle;
        tag.drive.scanMs = scanMs;
        return tag;
    }

    TagSpec& text(IoNode& group, std::string name, std::string description,
                  std::vector<std::string> messages, int32_t scanMs) {
        TagSpec& tag = addTag(group, std::move(name), "", std::move(description));
        tag.sigType = kelvane::stText;
        tag.dataType = kTextData;
        tag.decimals = -1;
        tag.drive.kind = DriveKind::Text;
        tag.drive.messages = std::move(messages);
        tag.drive.scanMs = scanMs;
        return tag;
    }

  private:
    int32_t lastId_ = 0;
};

std::vector<NamedValue> pumpStates() {
    return {{"Stopped", 0}, {"Running", 1}, {"Fault", 2}};
}

void addPump(IoBuilder& io, IoNode& group, const std::string& name, int32_t stateScanMs) {
    io.list(group, name + ".STATE", "Pump " + name + " state", pumpStates(), stateScanMs);
    TagSpec& speed = io.analog(group, name + ".SPEED", "%", "Pump " + name + " speed", 0,
                               DriveKind::Ramp, 0, 100, 1000);
    speed.rw = kReadWrite;
    io.analog(group, name + ".CURRENT", "A", "Pump " + name + " motor current", 1,
              DriveKind::RandomWalk, 18, 26, 1000);
}

std::vector<IoNode> demoIoTree() {
    IoBuilder io;
    std::vector<IoNode> tree;

    IoNode& intake = io.group(tree, "Intake");
    io.analog(intake, "INTAKE.LEVEL", "m", "Intake basin level", 2, DriveKind::Sine, 1.2, 3.6, 500);
    io.analog(intake, "INTAKE.FLOW", "m³/h", "Raw water flow", 1, DriveKind::RandomWalk, 120, 480,
              1000);
    TagSpec& temperature = io.analog(intake, "INTAKE.TEMP", "°C", "Raw water temperature", 1,
                                     DriveKind::Sine, 8, 14, 5000);
    temperature.drive.periodMs = 600000;
    io.analog(intake, "INTAKE.TURBIDITY", "NTU", "Raw water turbidity", 2, DriveKind::RandomWalk,
              0.5, 12, 2000);
    io.analog(intake, "SCREEN.DP", "mbar", "Bar screen differential pressure", 1, DriveKind::Ramp,
              2, 40, 1000);
    addPump(io, intake, "P101", 5000);
    addPump(io, intake, "P102", 7000);

    IoNode& filtration = io.group(tree, "Filtration");
    const std::vector<NamedValue> filterModes = {
        {"Filtering", 0}, {"Backwash", 1}, {"Standby", 2}, {"Out of service", 3}};
    for (const std::string filter : {"F1", "F2"}) {
        IoNode& group = io.group(filtration.children, "Filter " + filter);
        io.analog(group, filter + ".LEVEL", "m", "Filter " + filter + " water level", 2,
                  DriveKind::Sine, 1.5, 2.1, 1000);
        io.analog(group, filter + ".HEADLOSS", "kPa", "Filter " + filter + " head loss", 1,
                  DriveKind::Ramp, 5, 25, 2000);
        io.list(group, filter + ".MODE", "Filter " + filter + " operating mode", filterModes,
                filter == "F1" ? 6000 : 9000);
        TagSpec& runtime = io.analog(group, filter + ".RUNTIME", "h",
                                     "Filter " + filter + " run time since backwash", 1,
                                     DriveKind::Ramp, 0, 72, 5000);
        runtime.drive.periodMs = 3'600'000;
    }
    io.text(filtration, "FILTRATION.MESSAGE", "Latest filtration message",
            {"F1 filtering normally", "F2 backwash requested", "F2 backwash running",
             "F2 backwash complete"},
            8000);

    IoNode& dosing = io.group(tree, "Chemical dosing");
    io.analog(dosing, "CL2.DOSE", "mg/l", "Chlorine dose", 2, DriveKind::Sine, 0.8, 1.4, 1000);
    io.analog(dosing, "CL2.RESIDUAL", "mg/l", "Free chlorine residual", 2, DriveKind::RandomWalk,
              0.3, 0.8, 1000);
    io.analog(dosing, "PH.VALUE", "pH", "Treated water pH", 2, DriveKind::Sine, 6.8, 7.6, 1000);
    io.analog(dosing, "COAG.DOSE", "mg/l", "Coagulant dose", 1, DriveKind::RandomWalk, 10, 35,
              2000);
    io.list(dosing, "DOSING.PUMP1.STATE", "Dosing pump 1 state", pumpStates(), 4000);
    io.analog(dosing, "TANK.NAOCL.LEVEL", "%", "Hypochlorite tank level", 0, DriveKind::Ramp, 15,
              95, 3000);
    io.list(dosing, "DOSING.ALARM", "Dosing alarm", {{"Normal", 0}, {"Low level", 1}, {"Empty", 2}},
            11000);

    IoNode& distribution = io.group(tree, "Distribution");
    io.analog(distribution, "RES.LEVEL", "m", "Clear water reservoir level", 2, DriveKind::Sine,
              3.0, 5.5, 1000);
    io.analog(distribution, "RES.VOLUME", "m³", "Clear water reservoir volume", 0, DriveKind::Sine,
              1800, 3300, 1000);
    io.analog(distribution, "OUTLET.PRESSURE", "bar", "Outlet pressure", 2, DriveKind::RandomWalk,
              3.8, 5.2, 500);
    io.analog(distribution, "OUTLET.FLOW", "m³/h", "Outlet flow", 1, DriveKind::RandomWalk, 90, 450,
              1000);
    addPump(io, distribution, "P201", 6000);
    io.list(distribution, "VALVE.V210", "Zone valve V210",
            {{"Closed", 0}, {"Opening", 1}, {"Open", 2}, {"Closing", 3}}, 3000);
    io.analog(distribution, "ZONE.A.PRESSURE", "bar", "Zone A pressure", 2, DriveKind::Sine, 2.9,
              3.6, 1000);
    TagSpec& zoneB = io.analog(distribution, "ZONE.B.PRESSURE", "bar", "Zone B pressure", 2,
                               DriveKind::Sine, 2.4, 3.1, 1000);
    zoneB.decimals = -1;  // shown as the value text the host writes

    IoNode& energy = io.group(tree, "Energy");
    io.analog(energy, "SITE.POWER", "kW", "Site active power", 1, DriveKind::RandomWalk, 180, 320,
              1000);
    TagSpec& energyTotal = io.analog(energy, "SITE.ENERGY", "kWh", "Site energy today", 0,
                                     DriveKind::Ramp, 0, 6000, 5000);
    energyTotal.drive.periodMs = 86'400'000;
    io.analog(energy, "SITE.PF", "", "Site power factor", 3, DriveKind::Sine, 0.85, 0.98, 2000);
    io.list(energy, "GEN.STATE", "Standby generator", {{"Off", 0}, {"Starting", 1}, {"On", 2}},
            15000);

    IoNode& messages = io.group(tree, "Messages");
    io.text(messages, "PLANT.STATUS", "Plant status",
            {"All systems normal", "Intake pump changeover", "Reservoir filling",
             "Reservoir full, intake reduced"},
            10000);
    TagSpec& note = io.text(messages, "OPERATOR.NOTE", "Operator note", {"x"}, 60000);
    note.drive.kind = DriveKind::Constant;
    note.drive.messages.clear();
    note.drive.text = "Shift handover at 14:00";
    io.text(messages, "LAST.ALARM", "Most recent alarm",
            {"None", "P102 motor overload", "Low hypochlorite level", "Zone B low pressure"},
            12000);
    TagSpec& mode = io.list(messages, "PLANT.MODE", "Plant mode",
                            {{"Automatic", 0}, {"Manual", 1}, {"Maintenance", 2}}, 30000);
    mode.rw = kReadWrite;
    return tree;
}

ParameterSpec text(std::string name, int32_t type, std::string value, std::string unit = {}) {
    ParameterSpec parameter;
    parameter.name = std::move(name);
    parameter.propType = type;
    parameter.valueText = std::move(value);
    parameter.unitText = std::move(unit);
    return parameter;
}

ParameterSpec items(std::string name, int32_t type, std::vector<std::string> items,
                    int32_t selected) {
    ParameterSpec parameter;
    parameter.name = std::move(name);
    parameter.propType = type;
    parameter.valueText = items.at(static_cast<std::size_t>(selected));
    parameter.items = std::move(items);
    parameter.itemIndex = selected;
    return parameter;
}

ParameterSpec ranged(ParameterSpec parameter, double minimum, double maximum, int32_t decimals) {
    parameter.range = ParamRangeSpec{true, minimum, maximum, decimals};
    return parameter;
}

// One parameter of every type group and every answer a unit can give.
std::vector<ParameterSpec> fullParameterSet() {
    std::vector<ParameterSpec> set;
    set.push_back(text("Station address", 0, "1"));
    set.push_back(text("Service code", 1, "0"));
    set.push_back(items("Operating mode", 2, {"Automatic", "Manual", "Off"}, 0));
    set.push_back(ranged(text("Level setpoint", 3, "2.50", "m"), 0.5, 3.5, 2));
    set.push_back(items("Pump sequence", 4, {"P101 first", "P102 first", "Alternate"}, 2));
    set.push_back(text("Tag prefix", 5, "INTAKE"));
    set.push_back(text("Calibration table", 6, "CAL-2023-11"));
    set.push_back(items("Alarm relay", 7, {"Disabled", "Enabled"}, 1));
    set.push_back(items("Baud rate", 8, {"9600", "19200", "38400", "57600", "115200"}, 1));
    set.push_back(ranged(items("Flow alarm class", 9, {"Low", "Medium", "High"}, 1), 100, 600, 0));
    set.push_back(items("Analog filter", 10, {"None", "1 s", "5 s", "10 s"}, 2));
    set.push_back(ranged(text("Flow scale", 11, "480.0", "m³/h"), 0, 1000, 1));
    set.push_back(items("Display units", 12, {"SI", "US customary"}, 0));
    set.push_back(text("Comment", 13, "Raw water intake"));
    ParameterSpec firmware = text("Firmware", 14, "3.2.7");
    firmware.enabled = false;
    set.push_back(firmware);
    set.push_back(text("Vendor block", 20, "0x1F40"));
    ParameterSpec backwash = ranged(text("Backwash interval", 11, "48", "h"), 12, 96, 0);
    backwash.writer = WriterMode::Raises;
    set.push_back(backwash);
    ParameterSpec sample = text("Sample period", 0, "10", "s");
    sample.writer = WriterMode::None;
    set.push_back(sample);
    ParameterSpec pumpGroup = items("Pump group", 2, {"Group A", "Group B"}, 0);
    pumpGroup.group = {GroupAnswer::Given, 4};  // belongs to "Pump sequence"
    set.push_back(pumpGroup);
    ParameterSpec legacy = text("Legacy register", 0, "40001");
    legacy.group = {GroupAnswer::Given, -1};
    set.push_back(legacy);
    ParameterSpec language = items("Panel language", 4, {"English", "Korean", "German"}, 0);
    language.group = {GroupAnswer::Ignore, 0};
    set.push_back(language);
    ParameterSpec noItems = items("Spare selector", 7, {"-"}, 0);
    noItems.items->clear();
    noItems.valueText.clear();
    set.push_back(noItems);
    return set;
}

std::vector<ParameterSpec> smallParameterSet(const std::string& comment) {
    std::vector<ParameterSpec> set;
    set.push_back(text("Station address", 0, "2"));
    set.push_back(items("Operating mode", 2, {"Automatic", "Manual", "Off"}, 0));
    set.push_back(ranged(text("Scan time", 11, "250", "ms"), 50, 5000, 0));
    set.push_back(text("Service code", 6, "0"));
    set.push_back(items("Baud rate", 8, {"9600", "19200", "38400"}, 0));
    set.push_back(text("Comment", 13, comment));
    return set;
}

UnitSpec makeUnit(UnitKind kind, uint64_t id) {
    UnitSpec unit;
    unit.kind = kind;
    unit.unitId = id;
    unit.pinKind = defaultPinKind(kind);
    return unit;
}

UnitSpec station(uint64_t id, std::string name, std::string deviceName, std::string model,
                 std::vector<ParameterSpec> parameters) {
    UnitSpec unit = makeUnit(UnitKind::Station, id);
    unit.stationName = std::move(name);
    unit.deviceName = std::move(deviceName);
    unit.info = std::move(model);
    unit.parameters = std::move(parameters);
    return unit;
}

std::vector<UnitSpec> demoSystemTree() {
    UnitSpec ethernet = makeUnit(UnitKind::Interface, 100);
    ethernet.key = "eth1";
    ethernet.info = "Ethernet 1 - Modbus/TCP 192.168.10.0/24";
    ethernet.extra = "eth1";

    UnitSpec rack = makeUnit(UnitKind::Device, 110);
    rack.deviceName = "PLC rack A";
    rack.info = "Rack controller RC-8";
    UnitSpec intakePlc = station(111, "ST01", "Intake PLC", "KV-PLC 3200", fullParameterSet());
    intakePlc.extra = "192.168.10.11";
    UnitSpec filterPlc =
        station(112, "ST02", "Filter PLC", "KV-PLC 3200", smallParameterSet("Filters F1 and F2"));
    filterPlc.offlineEveryMs = 45000;
    filterPlc.offlineForMs = 8000;
    rack.children = {intakePlc, filterPlc};

    UnitSpec dosing = station(120, "ST03", "Dosing controller", "DoseMaster 40",
                              smallParameterSet("Chlorine and coagulant"));
    UnitSpec spare = station(130, "ST09", "Spare PLC", "KV-PLC 3200", {});
    spare.check = CheckState::Unchecked;
    spare.connectState = 0;
    ethernet.children = {rack, dosing, spare};

    UnitSpec serial = makeUnit(UnitKind::Interface, 200);
    serial.key = "com1";
    serial.info = "Serial COM1 - RS-485 Modbus RTU";
    UnitSpec reservoir =
        station(210, "ST11", "Reservoir RTU", "RTU-12", smallParameterSet("Clear water reservoir"));
    UnitSpec meter = station(220, "ST12", "Energy meter", "PM-5560", {});
    meter.check = CheckState::Pressed;
    UnitSpec drives =
        station(230, "ST13", "Outlet pump drives", "VFD-75", smallParameterSet("P201"));
    drives.check = CheckState::Disabled;
    UnitSpec radio = makeUnit(UnitKind::Device, 240);
    radio.deviceName = "Radio modem";
    radio.deviceKind = 2;
    radio.info = "RM-900";
    UnitSpec valve =
        station(241, "ST14", "Remote valve V210", "RV-2", smallParameterSet("Zone valve"));
    valve.offlineEveryMs = 60000;
    valve.offlineForMs = 15000;
    radio.children = {valve};
    serial.children = {reservoir, meter, drives, radio};

    return {ethernet, serial};
}

}  // namespace

Project makeDemoProject() {
    Project project;
    project.info.projectName = "Riverside Water Works";
    project.info.company = "Northbank Municipal Water";
    project.info.worker = "Operations shift A";
    project.info.description =
        "Demonstration plant: intake, filtration, chemical dosing and distribution of a small "
        "water works.";
    project.ioTree = demoIoTree();
    project.systemTree = demoSystemTree();
    project.users = {{"admin", hashPassword("admin", HashCost::Light), true},
                     {"viewer", hashPassword("viewer", HashCost::Light), false}};
    return project;
}

Project makeSyntheticProject(std::size_t tagCount) {
    constexpr std::size_t kTagsPerGroup = 1000;
    static constexpr DriveKind kKinds[] = {DriveKind::Sine, DriveKind::Ramp, DriveKind::RandomWalk};
    Project project = makeDemoProject();
    project.info.projectName = "Synthetic project, " + std::to_string(tagCount) + " tags";
    project.ioTree.clear();
    for (std::size_t i = 0; i < tagCount; ++i) {
        if (i % kTagsPerGroup == 0) {
            project.ioTree.push_back(
                IoNode{"Synthetic " + std::to_string(i / kTagsPerGroup + 1), std::nullopt, {}});
        }
        TagSpec tag;
        tag.id = static_cast<int32_t>(i + 1);
        tag.name = "SYN." + std::to_string(i + 1);
        tag.unit = "u";
        tag.dataType = kFloat;
        tag.decimals = 2;
        tag.drive.kind = kKinds[i % 3];
        tag.drive.step = 2.5;
        tag.drive.periodMs = 30000 + static_cast<int32_t>(i % 100) * 1000;
        project.ioTree.back().children.push_back(IoNode{tag.name, tag, {}});
    }
    return project;
}

std::string projectFileText(const Project& project) {
    pugi::xml_document document;
    writeProject(project, document);
    // Coupled to the host but not yet connected: the host's connect and DAQ run then take
    // effect at once.
    pugi::xml_node server =
        document.document_element().child(kPluginSettings).append_child("TCPServer");
    server.append_attribute("RunMode").set_value("1");
    server.append_attribute("Active").set_value("0");
    return documentText(document);
}

}  // namespace host
