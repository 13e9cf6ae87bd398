// The demo project's IO tree, area by area of the water works.
#include "host/core/DemoIoTree.h"

#include <string>
#include <utility>

namespace host {

namespace {

// Read/write code of a tag that may be written (0, the default, is read only).
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

void addIntake(IoBuilder& io, std::vector<IoNode>& tree) {
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
}

void addFiltration(IoBuilder& io, std::vector<IoNode>& tree) {
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
}

void addDosing(IoBuilder& io, std::vector<IoNode>& tree) {
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
}

void addDistribution(IoBuilder& io, std::vector<IoNode>& tree) {
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
}

void addEnergy(IoBuilder& io, std::vector<IoNode>& tree) {
    IoNode& energy = io.group(tree, "Energy");
    io.analog(energy, "SITE.POWER", "kW", "Site active power", 1, DriveKind::RandomWalk, 180, 320,
              1000);
    TagSpec& energyTotal = io.analog(energy, "SITE.ENERGY", "kWh", "Site energy today", 0,
                                     DriveKind::Ramp, 0, 6000, 5000);
    energyTotal.drive.periodMs = 86'400'000;
    io.analog(energy, "SITE.PF", "", "Site power factor", 3, DriveKind::Sine, 0.85, 0.98, 2000);
    io.list(energy, "GEN.STATE", "Standby generator", {{"Off", 0}, {"Starting", 1}, {"On", 2}},
            15000);
}

void addMessages(IoBuilder& io, std::vector<IoNode>& tree) {
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
}

}  // namespace

std::vector<IoNode> demoIoTree() {
    IoBuilder io;
    std::vector<IoNode> tree;
    addIntake(io, tree);
    addFiltration(io, tree);
    addDosing(io, tree);
    addDistribution(io, tree);
    addEnergy(io, tree);
    addMessages(io, tree);

    return tree;
}

}  // namespace host
