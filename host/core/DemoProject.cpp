#include "host/core/DemoProject.h"

#include "host/core/DemoIoTree.h"
#include "host/core/Passwords.h"
#include "host/core/ProjectFile.h"
#include "host/core/ProjectWriter.h"

namespace host {

namespace {

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

Project makeSyntheticProject(std::size_t tagCount, std::size_t changing) {
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
        if (changing > 0) {
            tag.drive.scanMs = i < changing ? 100 : 3'600'000;
        }
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
