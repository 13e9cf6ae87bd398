#include "server/runtime/TextFormat.h"

#include <vector>

namespace daq {

namespace {

// The arguments of one kind, taken in order.
template <typename T>
class ArgQueue {
  public:
    explicit ArgQueue(std::initializer_list<FormatArg> args) {
        for (const FormatArg& arg : args) {
            if (const T* value = std::get_if<T>(&arg)) {
                values_.push_back(*value);
            }
        }
    }
    const T* next() { return taken_ < values_.size() ? &values_[taken_++] : nullptr; }

  private:
    std::vector<T> values_;
    std::size_t taken_ = 0;
};

}  // namespace

std::string formatHostText(std::string_view format, std::initializer_list<FormatArg> args) {
    ArgQueue<std::string_view> texts(args);
    ArgQueue<int64_t> numbers(args);
    std::string out;
    out.reserve(format.size());
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            out += format[i];
            continue;
        }
        const char conversion = format[i + 1];
        if (conversion == '%') {
            out += '%';
            ++i;
            continue;
        }
        if (conversion == 's') {
            if (const std::string_view* text = texts.next()) {
                out += *text;
                ++i;
                continue;
            }
        } else if (conversion == 'd') {
            if (const int64_t* number = numbers.next()) {
                out += std::to_string(*number);
                ++i;
                continue;
            }
        }
        out += '%';
    }
    return out;
}

}  // namespace daq
