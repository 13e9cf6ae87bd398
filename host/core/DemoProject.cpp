#include "DemoProject.h"

#include "Passwords.h"
#include "ProjectFile.h"
#include "ProjectWriter.h"

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
    IoNode& Group(std::vector<IoNode>& parent, std::string name) {
        parent.push_back(IoNode{std::move(name), std::nullopt, {}});
        return parent.back();
    }

    TagSpec& Tag(IoNode& group, std::string name, std::string unit, std::string description) {
        TagSpec tag;
        tag.Id = ++lastId_;
        tag.Name = name;
        tag.Unit = std::move(unit);
        tag.Description = std::move(description);
        // Most tags carry a GUID; every seventh shows a record without one.
        if (tag.Id % 7 != 0) {
            tag.Guid =
                kelvane::TGuid{0x4B560000u + static_cast<uint32_t>(tag.Id),
                               0x10A2,
                               0x4C3D,
                               {0x8E, 0x51, 0x00, 0x1F, 0x29, 0x6A,
                                static_cast<uint8_t>(tag.Id >> 8), static_cast<uint8_t>(tag.Id)}};
        }
        group.Children.push_back(IoNode{std::move(name), std::move(tag), {}});
        return *group.Children.back().Tag;
    }

    TagSpec& Analog(IoNode& group, std::string name, std::string unit, std::string description,
                    int32_t decimals, DriveKind kind, double minimum, double maximum,
                    int32_t scanMs) {
        TagSpec& tag = Tag(group, std::move(name), std::move(unit), std::move(description));
        tag.SigType = kelvane::stNumeric;
        tag.DataType = kFloat;
        tag.Decimals = decimals;
        tag.Drive.Kind = kind;
        tag.Drive.Minimum = minimum;
        tag.Drive.Maximum = maximum;
        tag.Drive.ScanMs = scanMs;
        if (kind == DriveKind::RandomWalk) {
            tag.Drive.Step = (maximum - minimum) / 40.0;
        }
        return tag;
    }

    TagSpec& List(IoNode& group, std::string name, std::string description,
                  std::vector<NamedValue> values, int32_t scanMs) {
        TagSpec& tag = Tag(group, std::move(name), "", std::move(description));
        tag.SigType = kelvane::stList;
        tag.DataType = kInteger;
        tag.Values = std::move(values);
        tag.Drive.Kind = DriveKind::Cycle;
        tag.Drive.ScanMs = scanMs;
        return tag;
    }

    TagSpec& Text(IoNode& group, std::string name, std::string description,
                  std::vector<std::string> messages, int32_t scanMs) {
        TagSpec& tag = Tag(group, std::move(name), "", std::move(description));
        tag.SigType = kelvane::stText;
        tag.DataType = kTextData;
        tag.Decimals = -1;
        tag.Drive.Kind = DriveKind::Text;
        tag.Drive.Messages = std::move(messages);
        tag.Drive.ScanMs = scanMs;
        return tag;
    }

  private:
    int32_t lastId_ = 0;
};

std::vector<NamedValue> PumpStates() {
    return {{"Stopped", 0}, {"Running", 1}, {"Fault", 2}};
}

void AddPump(IoBuilder& io, IoNode& group, const std::string& name, int32_t stateScanMs) {
    io.List(group, name + ".STATE", "Pump " + name + " state", PumpStates(), stateScanMs);
    TagSpec& speed = io.Analog(group, name + ".SPEED", "%", "Pump " + name + " speed", 0,
                               DriveKind::Ramp, 0, 100, 1000);
    speed.RW = kReadWrite;
    io.Analog(group, name + ".CURRENT", "A", "Pump " + name + " motor current", 1,
              DriveKind::RandomWalk, 18, 26, 1000);
}

std::vector<IoNode> DemoIoTree() {
    IoBuilder io;
    std::vector<IoNode> tree;

    IoNode& intake = io.Group(tree, "Intake");
    io.Analog(intake, "INTAKE.LEVEL", "m", "Intake basin level", 2, DriveKind::Sine, 1.2, 3.6, 500);
    io.Analog(intake, "INTAKE.FLOW", "m³/h", "Raw water flow", 1, DriveKind::RandomWalk, 120, 480,
              1000);
    TagSpec& temperature = io.Analog(intake, "INTAKE.TEMP", "°C", "Raw water temperature", 1,
                                     DriveKind::Sine, 8, 14, 5000);
    temperature.Drive.PeriodMs = 600000;
    io.Analog(intake, "INTAKE.TURBIDITY", "NTU", "Raw water turbidity", 2, DriveKind::RandomWalk,
              0.5, 12, 2000);
    io.Analog(intake, "SCREEN.DP", "mbar", "Bar screen differential pressure", 1, DriveKind::Ramp,
              2, 40, 1000);
    AddPump(io, intake, "P101", 5000);
    AddPump(io, intake, "P102", 7000);

    IoNode& filtration = io.Group(tree, "Filtration");
    const std::vector<NamedValue> filterModes = {
        {"Filtering", 0}, {"Backwash", 1}, {"Standby", 2}, {"Out of service", 3}};
    for (const std::string filter : {"F1", "F2"}) {
        IoNode& group = io.Group(filtration.Children, "Filter " + filter);
        io.Analog(group, filter + ".LEVEL", "m", "Filter " + filter + " water level", 2,
                  DriveKind::Sine, 1.5, 2.1, 1000);
        io.Analog(group, filter + ".HEADLOSS", "kPa", "Filter " + filter + " head loss", 1,
                  DriveKind::Ramp, 5, 25, 2000);
        io.List(group, filter + ".MODE", "Filter " + filter + " operating mode", filterModes,
                filter == "F1" ? 6000 : 9000);
        TagSpec& runtime = io.Analog(group, filter + ".RUNTIME", "h",
                                     "Filter " + filter + " run time since backwash", 1,
                                     DriveKind::Ramp, 0, 72, 5000);
        runtime.Drive.PeriodMs = 3'600'000;
    }
    io.Text(filtration, "FILTRATION.MESSAGE", "Latest filtration message",
            {"F1 filtering normally", "F2 backwash requested", "F2 backwash running",
             "F2 backwash complete"},
            8000);

    IoNode& dosing = io.Group(tree, "Chemical dosing");
    io.Analog(dosing, "CL2.DOSE", "mg/l", "Chlorine dose", 2, DriveKind::Sine, 0.8, 1.4, 1000);
    io.Analog(dosing, "CL2.RESIDUAL", "mg/l", "Free chlorine residual", 2, DriveKind::RandomWalk,
              0.3, 0.8, 1000);
    io.Analog(dosing, "PH.VALUE", "pH", "Treated water pH", 2, DriveKind::Sine, 6.8, 7.6, 1000);
    io.Analog(dosing, "COAG.DOSE", "mg/l", "Coagulant dose", 1, DriveKind::RandomWalk, 10, 35,
              2000);
    io.List(dosing, "DOSING.PUMP1.STATE", "Dosing pump 1 state", PumpStates(), 4000);
    io.Analog(dosing, "TANK.NAOCL.LEVEL", "%", "Hypochlorite tank level", 0, DriveKind::Ramp, 15,
              95, 3000);
    io.List(dosing, "DOSING.ALARM", "Dosing alarm", {{"Normal", 0}, {"Low level", 1}, {"Empty", 2}},
            11000);

    IoNode& distribution = io.Group(tree, "Distribution");
    io.Analog(distribution, "RES.LEVEL", "m", "Clear water reservoir level", 2, DriveKind::Sine,
              3.0, 5.5, 1000);
    io.Analog(distribution, "RES.VOLUME", "m³", "Clear water reservoir volume", 0, DriveKind::Sine,
              1800, 3300, 1000);
    io.Analog(distribution, "OUTLET.PRESSURE", "bar", "Outlet pressure", 2, DriveKind::RandomWalk,
              3.8, 5.2, 500);
    io.Analog(distribution, "OUTLET.FLOW", "m³/h", "Outlet flow", 1, DriveKind::RandomWalk, 90, 450,
              1000);
    AddPump(io, distribution, "P201", 6000);
    io.List(distribution, "VALVE.V210", "Zone valve V210",
            {{"Closed", 0}, {"Opening", 1}, {"Open", 2}, {"Closing", 3}}, 3000);
    io.Analog(distribution, "ZONE.A.PRESSURE", "bar", "Zone A pressure", 2, DriveKind::Sine, 2.9,
              3.6, 1000);
    TagSpec& zoneB = io.Analog(distribution, "ZONE.B.PRESSURE", "bar", "Zone B pressure", 2,
                               DriveKind::Sine, 2.4, 3.1, 1000);
    zoneB.Decimals = -1;  // shown as the value text the host writes

    IoNode& energy = io.Group(tree, "Energy");
    io.Analog(energy, "SITE.POWER", "kW", "Site active power", 1, DriveKind::RandomWalk, 180, 320,
              1000);
    TagSpec& energyTotal = io.Analog(energy, "SITE.ENERGY", "kWh", "Site energy today", 0,
                                     DriveKind::Ramp, 0, 6000, 5000);
    energyTotal.Drive.PeriodMs = 86'400'000;
    io.Analog(energy, "SITE.PF", "", "Site power factor", 3, DriveKind::Sine, 0.85, 0.98, 2000);
    io.List(energy, "GEN.STATE", "Standby generator", {{"Off", 0}, {"Starting", 1}, {"On", 2}},
            15000);

    IoNode& messages = io.Group(tree, "Messages");
    io.Text(messages, "PLANT.STATUS", "Plant status",
            {"All systems normal", "Intake pump changeover", "Reservoir filling",
             "Reservoir full, intake reduced"},
            10000);
    TagSpec& note = io.Text(messages, "OPERATOR.NOTE", "Operator note", {"x"}, 60000);
    note.Drive.Kind = DriveKind::Constant;
    note.Drive.Messages.clear();
    note.Drive.Text = "Shift handover at 14:00";
    io.Text(messages, "LAST.ALARM", "Most recent alarm",
            {"None", "P102 motor overload", "Low hypochlorite level", "Zone B low pressure"},
            12000);
    TagSpec& mode = io.List(messages, "PLANT.MODE", "Plant mode",
                            {{"Automatic", 0}, {"Manual", 1}, {"Maintenance", 2}}, 30000);
    mode.RW = kReadWrite;
    return tree;
}

ParameterSpec Text(std::string name, int32_t type, std::string value, std::string unit = {}) {
    ParameterSpec parameter;
    parameter.Name = std::move(name);
    parameter.PropType = type;
    parameter.ValueText = std::move(value);
    parameter.UnitText = std::move(unit);
    return parameter;
}

ParameterSpec Items(std::string name, int32_t type, std::vector<std::string> items,
                    int32_t selected) {
    ParameterSpec parameter;
    parameter.Name = std::move(name);
    parameter.PropType = type;
    parameter.ValueText = items.at(static_cast<std::size_t>(selected));
    parameter.Items = std::move(items);
    parameter.ItemIndex = selected;
    return parameter;
}

ParameterSpec Ranged(ParameterSpec parameter, double minimum, double maximum, int32_t decimals) {
    parameter.Range = ParamRangeSpec{true, minimum, maximum, decimals};
    return parameter;
}

// One parameter of every type group and every answer a unit can give.
std::vector<ParameterSpec> FullParameterSet() {
    std::vector<ParameterSpec> set;
    set.push_back(Text("Station address", 0, "1"));
    set.push_back(Text("Service code", 1, "0"));
    set.push_back(Items("Operating mode", 2, {"Automatic", "Manual", "Off"}, 0));
    set.push_back(Ranged(Text("Level setpoint", 3, "2.50", "m"), 0.5, 3.5, 2));
    set.push_back(Items("Pump sequence", 4, {"P101 first", "P102 first", "Alternate"}, 2));
    set.push_back(Text("Tag prefix", 5, "INTAKE"));
    set.push_back(Text("Calibration table", 6, "CAL-2023-11"));
    set.push_back(Items("Alarm relay", 7, {"Disabled", "Enabled"}, 1));
    set.push_back(Items("Baud rate", 8, {"9600", "19200", "38400", "57600", "115200"}, 1));
    set.push_back(Ranged(Items("Flow alarm class", 9, {"Low", "Medium", "High"}, 1), 100, 600, 0));
    set.push_back(Items("Analog filter", 10, {"None", "1 s", "5 s", "10 s"}, 2));
    set.push_back(Ranged(Text("Flow scale", 11, "480.0", "m³/h"), 0, 1000, 1));
    set.push_back(Items("Display units", 12, {"SI", "US customary"}, 0));
    set.push_back(Text("Comment", 13, "Raw water intake"));
    ParameterSpec firmware = Text("Firmware", 14, "3.2.7");
    firmware.Enabled = false;
    set.push_back(firmware);
    set.push_back(Text("Vendor block", 20, "0x1F40"));
    ParameterSpec backwash = Ranged(Text("Backwash interval", 11, "48", "h"), 12, 96, 0);
    backwash.Writer = WriterMode::Raises;
    set.push_back(backwash);
    ParameterSpec sample = Text("Sample period", 0, "10", "s");
    sample.Writer = WriterMode::None;
    set.push_back(sample);
    ParameterSpec pumpGroup = Items("Pump group", 2, {"Group A", "Group B"}, 0);
    pumpGroup.Group = {GroupAnswer::Given, 4};  // belongs to "Pump sequence"
    set.push_back(pumpGroup);
    ParameterSpec legacy = Text("Legacy register", 0, "40001");
    legacy.Group = {GroupAnswer::Given, -1};
    set.push_back(legacy);
    ParameterSpec language = Items("Panel language", 4, {"English", "Korean", "German"}, 0);
    language.Group = {GroupAnswer::Ignore, 0};
    set.push_back(language);
    ParameterSpec noItems = Items("Spare selector", 7, {"-"}, 0);
    noItems.Items->clear();
    noItems.ValueText.clear();
    set.push_back(noItems);
    return set;
}

std::vector<ParameterSpec> SmallParameterSet(const std::string& comment) {
    std::vector<ParameterSpec> set;
    set.push_back(Text("Station address", 0, "2"));
    set.push_back(Items("Operating mode", 2, {"Automatic", "Manual", "Off"}, 0));
    set.push_back(Ranged(Text("Scan time", 11, "250", "ms"), 50, 5000, 0));
    set.push_back(Text("Service code", 6, "0"));
    set.push_back(Items("Baud rate", 8, {"9600", "19200", "38400"}, 0));
    set.push_back(Text("Comment", 13, comment));
    return set;
}

UnitSpec Unit(UnitKind kind, uint64_t id) {
    UnitSpec unit;
    unit.Kind = kind;
    unit.UnitId = id;
    unit.PinKind = DefaultPinKind(kind);
    return unit;
}

UnitSpec Station(uint64_t id, std::string name, std::string deviceName, std::string model,
                 std::vector<ParameterSpec> parameters) {
    UnitSpec unit = Unit(UnitKind::Station, id);
    unit.StationName = std::move(name);
    unit.DeviceName = std::move(deviceName);
    unit.Info = std::move(model);
    unit.Parameters = std::move(parameters);
    return unit;
}

std::vector<UnitSpec> DemoSystemTree() {
    UnitSpec ethernet = Unit(UnitKind::Interface, 100);
    ethernet.Key = "eth1";
    ethernet.Info = "Ethernet 1 - Modbus/TCP 192.168.10.0/24";
    ethernet.Extra = "eth1";

    UnitSpec rack = Unit(UnitKind::Device, 110);
    rack.DeviceName = "PLC rack A";
    rack.Info = "Rack controller RC-8";
    UnitSpec intakePlc = Station(111, "ST01", "Intake PLC", "KV-PLC 3200", FullParameterSet());
    intakePlc.Extra = "192.168.10.11";
    UnitSpec filterPlc =
        Station(112, "ST02", "Filter PLC", "KV-PLC 3200", SmallParameterSet("Filters F1 and F2"));
    filterPlc.OfflineEveryMs = 45000;
    filterPlc.OfflineForMs = 8000;
    rack.Children = {intakePlc, filterPlc};

    UnitSpec dosing = Station(120, "ST03", "Dosing controller", "DoseMaster 40",
                              SmallParameterSet("Chlorine and coagulant"));
    UnitSpec spare = Station(130, "ST09", "Spare PLC", "KV-PLC 3200", {});
    spare.Check = CheckState::Unchecked;
    spare.ConnectState = 0;
    ethernet.Children = {rack, dosing, spare};

    UnitSpec serial = Unit(UnitKind::Interface, 200);
    serial.Key = "com1";
    serial.Info = "Serial COM1 - RS-485 Modbus RTU";
    UnitSpec reservoir =
        Station(210, "ST11", "Reservoir RTU", "RTU-12", SmallParameterSet("Clear water reservoir"));
    UnitSpec meter = Station(220, "ST12", "Energy meter", "PM-5560", {});
    meter.Check = CheckState::Pressed;
    UnitSpec drives =
        Station(230, "ST13", "Outlet pump drives", "VFD-75", SmallParameterSet("P201"));
    drives.Check = CheckState::Disabled;
    UnitSpec radio = Unit(UnitKind::Device, 240);
    radio.DeviceName = "Radio modem";
    radio.DeviceKind = 2;
    radio.Info = "RM-900";
    UnitSpec valve =
        Station(241, "ST14", "Remote valve V210", "RV-2", SmallParameterSet("Zone valve"));
    valve.OfflineEveryMs = 60000;
    valve.OfflineForMs = 15000;
    radio.Children = {valve};
    serial.Children = {reservoir, meter, drives, radio};

    return {ethernet, serial};
}

}  // namespace

Project MakeDemoProject() {
    Project project;
    project.Info.ProjectName = "Riverside Water Works";
    project.Info.Company = "Northbank Municipal Water";
    project.Info.Worker = "Operations shift A";
    project.Info.Description =
        "Demonstration plant: intake, filtration, chemical dosing and distribution of a small "
        "water works.";
    project.IoTree = DemoIoTree();
    project.SystemTree = DemoSystemTree();
    project.Users = {{"admin", HashPassword("admin", HashCost::Light), true},
                     {"viewer", HashPassword("viewer", HashCost::Light), false}};
    return project;
}

Project MakeSyntheticProject(std::size_t tagCount) {
    constexpr std::size_t kTagsPerGroup = 1000;
    static constexpr DriveKind kKinds[] = {DriveKind::Sine, DriveKind::Ramp, DriveKind::RandomWalk};
    Project project = MakeDemoProject();
    project.Info.ProjectName = "Synthetic project, " + std::to_string(tagCount) + " tags";
    project.IoTree.clear();
    for (std::size_t i = 0; i < tagCount; ++i) {
        if (i % kTagsPerGroup == 0) {
            project.IoTree.push_back(
                IoNode{"Synthetic " + std::to_string(i / kTagsPerGroup + 1), std::nullopt, {}});
        }
        TagSpec tag;
        tag.Id = static_cast<int32_t>(i + 1);
        tag.Name = "SYN." + std::to_string(i + 1);
        tag.Unit = "u";
        tag.DataType = kFloat;
        tag.Decimals = 2;
        tag.Drive.Kind = kKinds[i % 3];
        tag.Drive.Step = 2.5;
        tag.Drive.PeriodMs = 30000 + static_cast<int32_t>(i % 100) * 1000;
        project.IoTree.back().Children.push_back(IoNode{tag.Name, tag, {}});
    }
    return project;
}

std::string ProjectFileText(const Project& project) {
    pugi::xml_document document;
    WriteProject(project, document);
    // Coupled to the host but not yet connected: the host's connect and DAQ run then take
    // effect at once.
    pugi::xml_node server =
        document.document_element().child(kPluginSettings).append_child("TCPServer");
    server.append_attribute("RunMode").set_value("1");
    server.append_attribute("Active").set_value("0");
    return DocumentText(document);
}

}  // namespace host
