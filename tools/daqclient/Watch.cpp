// watch: polls "DAQ_DATA" at a fixed rate. On a terminal the table is redrawn in place; else
// each poll is one line (CSV, JSON or table row) with every value and its time stamp. A server
// that cannot be reached is reported once, then connected to again with growing pauses, and its
// return is reported once.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "tools/daqclient/Commands.h"
#include "tools/daqclient/TagList.h"
#include "tools/daqclient/Values.h"

namespace daqclient {

namespace {

using Clock = std::chrono::steady_clock;

// While the server cannot be reached, watch tries to connect again one poll interval after the
// failure, then each time twice as long after the last try, at most this long apart (or the
// interval, when that is longer).
constexpr std::chrono::seconds kLongestReconnectDelay{30};

// "2026-12-06T07:47:01.123+01:00": ISO 8601, local time of this machine and its offset from UTC.
std::string wallClockText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[48];
    std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    length += static_cast<std::size_t>(
        std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(millis)));
    // %z gives "+0100"; ISO 8601 writes "+01:00" beside a time with colons.
    char offset[8];
    if (std::strftime(offset, sizeof offset, "%z", &local) == 5) {
        std::snprintf(text + length, sizeof text - length, "%.3s:%.2s", offset, offset + 3);
    }
    return text;
}

// The failures after which the server is taken to be down: the next poll connects afresh.
bool serverUnreachable(const CommandError& error) {
    return error.code() == ExitCode::ConnectionFailed || error.code() == ExitCode::NoAnswer;
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
        columns_ = {value("poll"), "time"};
        for (const SelectedRecord& record : records_) {
            columns_.push_back(value(recordLabel(record)));
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
        Table table{{value("index"), "tag", value("data"), "unit", "time"}, {}, false};
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

    // The server answers again after it could not be reached for `downFor`; on a terminal the
    // next poll's table says so.
    void showBack(Clock::duration downFor) const {
        if (!live_) {
            std::fprintf(stderr, "daqclient: connected again to %s after %.1f s\n", source_.c_str(),
                         std::chrono::duration<double>(downFor).count());
        }
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
    std::vector<Column> columns_;
    std::string body_;
    std::size_t drawnLines_ = 0;
};

// Connects again (and logs in) while the server is down; false while it cannot be reached.
bool reconnect(ServerLink& link) {
    try {
        link.open();
        return true;
    } catch (const CommandError& error) {
        if (!serverUnreachable(error)) {
            throw;
        }
        return false;
    }
}

// The polls, at a fixed rate until the count or the deadline, and the failures among them.
class WatchLoop {
  public:
    WatchLoop(ServerLink& link, PollView& view, const std::vector<SelectedRecord>& records,
              const WatchOptions& options)
        : link_(link),
          view_(view),
          records_(records),
          options_(options),
          interval_(options.intervalMs),
          longestDelay_(std::max<Clock::duration>(interval_, kLongestReconnectDelay)),
          start_(Clock::now()),
          deadline_(options.waitSeconds
                        ? start_ + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(*options.waitSeconds))
                        : Clock::time_point::max()) {}

    // Throws the first failure's code, with how many polls failed, when any did.
    void run() {
        for (auto due = start_;;) {
            if (downSince_) {
                if (!reconnected(due)) {
                    if (due >= deadline_) {
                        break;
                    }
                    std::this_thread::sleep_until(due);
                    continue;
                }
            }
            poll();
            if (options_.count && polls_ >= *options_.count) {
                break;
            }
            due = nextDue(due);
            if (due >= deadline_) {
                break;
            }
            std::this_thread::sleep_until(due);
        }
        if (firstFailure_) {
            throw CommandError(firstFailure_->code(),
                               std::to_string(failed_) + " of " + std::to_string(polls_) +
                                   " polls failed; the first: " + firstFailure_->what());
        }
    }

  private:
    // Tries to connect to the server that was down: true once it is back (the next poll is due
    // now), else false with `due` set to the next try.
    bool reconnected(Clock::time_point& due) {
        if (!reconnect(link_)) {
            reconnectDelay_ = std::min(2 * reconnectDelay_, longestDelay_);
            due = Clock::now() + reconnectDelay_;
            return false;
        }
        view_.showBack(Clock::now() - *downSince_);
        downSince_.reset();
        due = Clock::now();
        return true;
    }

    void poll() {
        const long number = ++polls_;
        try {
            const auto values = readValues(link_, records_);
            view_.showValues(number, values);
            if (const auto missing = missingRecords(records_, values)) {
                throw CommandError(ExitCode::Failure, *missing);
            }
        } catch (const CommandError& error) {
            if (error.code() == ExitCode::LoginRefused || error.code() == ExitCode::Usage) {
                throw;
            }
            ++failed_;
            if (!firstFailure_) {
                firstFailure_ = error;
            }
            if (serverUnreachable(error)) {
                // A late answer would be taken for the next poll's: connect afresh instead.
                link_.close();
                downSince_ = Clock::now();
                reconnectDelay_ = interval_;
                view_.showFailure(number, std::string(error.what()) +
                                              "; connecting again until the server answers");
            } else {
                view_.showFailure(number, error.what());
            }
        }
    }

    Clock::time_point nextDue(Clock::time_point due) const {
        const auto now = Clock::now();
        if (downSince_) {
            return now + reconnectDelay_;
        }
        // Fixed rate; polls that could not be made in time are skipped, not made up.
        while (due <= now) {
            due += interval_;
        }
        return due;
    }

    ServerLink& link_;
    PollView& view_;
    const std::vector<SelectedRecord>& records_;
    const WatchOptions& options_;
    const std::chrono::milliseconds interval_;
    const Clock::duration longestDelay_;
    const Clock::time_point start_;
    const Clock::time_point deadline_;
    long polls_ = 0;
    long failed_ = 0;
    std::optional<CommandError> firstFailure_;
    // Set while the server cannot be reached: reported once, then tried quietly.
    std::optional<Clock::time_point> downSince_;
    Clock::duration reconnectDelay_{};
};

}  // namespace

void runWatch(ServerLink& link, Output& out, const WatchOptions& options, bool terminal) {
    const std::vector<SelectedRecord> records =
        withoutRepeats(resolveSelection(link, options.selection));
    const GlobalOptions& global = link.options();
    PollView view(out, records, terminal && out.format() == OutputFormat::Table,
                  global.host + ":" + std::to_string(global.port));
    WatchLoop(link, view, records, options).run();
}

}  // namespace daqclient
