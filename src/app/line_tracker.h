#ifndef VRAMCHECK_APP_LINE_TRACKER_H_
#define VRAMCHECK_APP_LINE_TRACKER_H_

#include <cerrno>
#include <ostream>
#include <streambuf>

namespace vramcheck {

// Stands between a stream and its buffer for the tracker's lifetime and
// remembers whether the stream's last character ended a line, so that an
// error message can start on a line of its own after a status line or a
// device line left unfinished. Also remembers why the first write or flush
// that failed did so.
class LineTracker : public std::streambuf {
 public:
  explicit LineTracker(std::ostream& stream)
      : stream_(stream), target_(stream.rdbuf(this)) {}
  ~LineTracker() override { stream_.rdbuf(target_); }

  LineTracker(const LineTracker&) = delete;
  LineTracker& operator=(const LineTracker&) = delete;

  // True once something was written and the last character was no newline.
  bool line_open() const { return line_open_; }

  // The errno of the first write or flush that failed, or 0.
  int write_error() const { return write_error_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
      return traits_type::not_eof(c);
    }
    line_open_ = traits_type::to_char_type(c) != '\n';
    const int_type written = target_->sputc(traits_type::to_char_type(c));
    if (traits_type::eq_int_type(written, traits_type::eof())) Failed();
    return written;
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    if (count > 0) line_open_ = text[count - 1] != '\n';
    const std::streamsize written = target_->sputn(text, count);
    if (written < count) Failed();
    return written;
  }

  int sync() override {
    const int status = target_->pubsync();
    if (status != 0) Failed();
    return status;
  }

 private:
  void Failed() {
    if (write_error_ == 0) write_error_ = errno != 0 ? errno : EIO;
  }

  std::ostream& stream_;
  std::streambuf* target_;
  bool line_open_ = false;
  int write_error_ = 0;
};

}  // namespace vramcheck

#endif  // VRAMCHECK_APP_LINE_TRACKER_H_
