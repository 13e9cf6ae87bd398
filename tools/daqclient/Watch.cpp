// watch: polls "DAQ_DATA" at a fixed rate. On a terminal the table is redrawn in place; else
// each poll is one line (CSV, JSON or table row) with every value and its time stamp.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

#include "tools/daqclient/Commands.h"
#include "tools/daqclient/TagList.h"
#include "tools/daqclient/Values.h"

namespace daqclient {

namespace {

using Clock = std::chrono::steady_clock;

// "2026-12-06 07:47:01.123", local time of this machine.
std::string wallClockText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(millis));
    return text;
}

std::vector<SelectedRecord> withoutRepeats(std::vector<SelectedRecord> records) {
    std::set<int> seen;
    std::erase_if(records, [&seen](const SelectedRecord& record) {
        return !seen.insert(record.index).second;
    });
    return records;
}

// The values of one poll, shown as the output wants them.
class PollView {
  public:
    PollView(Output& out, const std::vector<SelectedRecord>& records, bool live, std::string source)
        : out_(out), records_(records), live_(live), source_(std::move(source)) {
        columns_ = {"poll", "time"};
        for (const SelectedRecord& record : records_) {
            columns_.push_back(recordLabel(record));
            columns_.push_back(recordLabel(record) + " time");
        }
    }

    void showValues(long poll, const std::vector<std::optional<CurrentValue>>& values) {
        const std::string time = wallClockText();
        if (!live_) {
            Row row{std::to_string(poll), time};
            for (const auto& value : values) {
                row.push_back(value ? value->data : std::string());
                row.push_back(value ? value->time : std::string());
            }
            out_.stream(columns_, row);
            return;
        }
        Table table{{"index", "tag", "data", "unit", "time"}, {}, false};
        for (std::size_t i = 0; i < records_.size(); ++i) {
            const auto& value = values[i];
            table.rows.push_back({std::to_string(records_[i].index), records_[i].name,
                                  value ? value->data : "(no record)",
                                  value ? value->unit : std::string(),
                                  value ? value->time : std::string()});
        }
        body_ = render(OutputFormat::Table, table);
        redraw("poll " + std::to_string(poll) + " at " + time + " from " + source_);
    }

    void showFailure(long poll, const std::string& error) {
        if (!live_) {
            std::fprintf(stderr, "daqclient: poll %ld: %s\n", poll, error.c_str());
            return;
        }
        redraw("poll " + std::to_string(poll) + " at " + wallClockText() +
               " failed: " + printable(error));
    }

  private:
    // Moves the cursor back over the lines drawn last time, clears them and draws anew.
    void redraw(const std::string& status) {
        std::string frame;
        if (drawnLines_ > 0) {
            frame = "\x1b[" + std::to_string(drawnLines_) + "F\x1b[J";
        }
        const std::string text = status + "\n" + body_;
        drawnLines_ = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        out_.printText(frame + text);
    }

    Output& out_;
    const std::vector<SelectedRecord>& records_;
    bool live_;
    std::string source_;
    std::vector<std::string> columns_;
    std::string body_;
    std::size_t drawnLines_ = 0;
};

}  // namespace

void runWatch(ServerLink& link, Output& out, const WatchOptions& options, bool terminal) {
    const std::vector<SelectedRecord> records =
        withoutRepeats(resolveSelection(link, options.selection));
    const GlobalOptions& global = link.options();
    PollView view(out, records, terminal && out.format() == OutputFormat::Table,
                  global.host + ":" + std::to_string(global.port));

    const auto interval = std::chrono::milliseconds(options.intervalMs);
    const auto start = Clock::now();
    const auto deadline = options.waitSeconds
                              ? start + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(*options.waitSeconds))
                              : Clock::time_point::max();
    long failed = 0;
    std::optional<CommandError> firstFailure;
    long poll = 1;
    for (auto due = start;; ++poll) {
        try {
            if (!link.isOpen()) {
                link.open();
            }
            const auto values = readValues(link, records);
            view.showValues(poll, values);
            if (const auto missing = missingRecords(records, values)) {
                throw CommandError(ExitCode::Failure, *missing);
            }
        } catch (const CommandError& error) {
            if (error.code() == ExitCode::LoginRefused || error.code() == ExitCode::Usage) {
                throw;
            }
            view.showFailure(poll, error.what());
            ++failed;
            if (!firstFailure) {
                firstFailure = error;
            }
            if (error.code() == ExitCode::NoAnswer || error.code() == ExitCode::ConnectionFailed) {
                // A late answer would be taken for the next poll's: the next poll connects
                // afresh instead.
                link.close();
            }
        }
        if (options.count && poll >= *options.count) {
            break;
        }
        // Fixed rate; polls that could not be made in time are skipped, not made up.
        const auto now = Clock::now();
        while (due <= now) {
            due += interval;
        }
        if (due >= deadline) {
            break;
        }
        std::this_thread::sleep_until(due);
    }
    if (firstFailure) {
        throw CommandError(firstFailure->code(),
                           std::to_string(failed) + " of " + std::to_string(poll) +
                               " polls failed; the first: " + firstFailure->what());
    }
}

}  // namespace daqclient
