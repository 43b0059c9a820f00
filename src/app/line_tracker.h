#ifndef VRAMCHECK_APP_LINE_TRACKER_H_
#define VRAMCHECK_APP_LINE_TRACKER_H_

#include <ostream>
#include <streambuf>

namespace vramcheck {

// Stands between a stream and its buffer for the tracker's lifetime and
// remembers whether the stream's last character ended a line, so that an
// error message can start on a line of its own after a status line or a
// device line left unfinished.
class LineTracker : public std::streambuf {
 public:
  explicit LineTracker(std::ostream& stream)
      : stream_(stream), target_(stream.rdbuf(this)) {}
  ~LineTracker() override { stream_.rdbuf(target_); }

  LineTracker(const LineTracker&) = delete;
  LineTracker& operator=(const LineTracker&) = delete;

  // True once something was written and the last character was no newline.
  bool line_open() const { return line_open_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
      return traits_type::not_eof(c);
    }
    line_open_ = traits_type::to_char_type(c) != '\n';
    return target_->sputc(traits_type::to_char_type(c));
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    if (count > 0) line_open_ = text[count - 1] != '\n';
    return target_->sputn(text, count);
  }

  int sync() override { return target_->pubsync(); }

 private:
  std::ostream& stream_;
  std::streambuf* target_;
  bool line_open_ = false;
};

}  // namespace vramcheck

#endif  // VRAMCHECK_APP_LINE_TRACKER_H_
