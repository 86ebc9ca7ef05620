// JSON text to json_spirit::Value, on YAJL's event parser.
#include <yajl/yajl_parse.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "json_spirit/json_spirit.h"
#include "json_spirit/writer.h"

namespace json_spirit {
namespace {

// Builds the value from parser events. `open_` holds the containers that
// are open, innermost last; a child container is always the last element
// of its parent while it is open, so the pointers stay valid.
class Builder {
 public:
  bool add(Value&& v) {
    if (open_.empty()) {
      root_ = std::move(v);
      return true;
    }
    Value* top = open_.back();
    if (top->type() == array_type) {
      top->get_array().push_back(std::move(v));
    } else {
      top->get_obj()[key_] = std::move(v);
    }
    return true;
  }

  bool open(Value&& container) {
    if (open_.size() >= MAX_READ_DEPTH) {
      error_ = "nesting deeper than " + std::to_string(MAX_READ_DEPTH) + " levels";
      return false;
    }
    Value* placed;
    if (open_.empty()) {
      root_ = std::move(container);
      placed = &root_;
    } else {
      Value* top = open_.back();
      if (top->type() == array_type) {
        Array& a = top->get_array();
        a.push_back(std::move(container));
        placed = &a.back();
      } else {
        placed = &(top->get_obj()[key_] = std::move(container));
      }
    }
    open_.push_back(placed);
    return true;
  }

  bool close() {
    open_.pop_back();
    return true;
  }

  bool number(const char* text, std::size_t len) {
    std::string s(text, len);
    const bool integral = s.find_first_of(".eE") == std::string::npos;
    if (integral) {
      errno = 0;
      char* end = nullptr;
      const long long i = std::strtoll(s.c_str(), &end, 10);
      if (errno == 0 && *end == '\0') return add(Value(i));
      if (errno == ERANGE && s[0] != '-') {
        errno = 0;
        const unsigned long long u = std::strtoull(s.c_str(), &end, 10);
        if (errno == 0 && *end == '\0') return add(Value(u));
      }
    }
    errno = 0;
    char* end = nullptr;
    const double d = std::strtod(s.c_str(), &end);
    if (*end != '\0' || !std::isfinite(d)) {
      error_ = "number " + s + " is out of range";
      return false;
    }
    return add(Value(d));
  }

  void set_key(const unsigned char* k, std::size_t len) {
    key_.assign(reinterpret_cast<const char*>(k), len);
  }

  void fail(const std::string& why) { error_ = why; }
  const std::string& key() const { return key_; }

  Value& root() { return root_; }
  const std::string& error() const { return error_; }

 private:
  Value root_;
  std::vector<Value*> open_;
  std::string key_;
  std::string error_;
};

Builder& of(void* ctx) { return *static_cast<Builder*>(ctx); }

// Runs one parser event; an exception (out of memory) must not unwind
// through the C parser, so it cancels the parse instead.
template <typename F>
int event(void* ctx, F f) {
  try {
    return f(of(ctx)) ? 1 : 0;
  } catch (const std::exception&) {
    of(ctx).fail("out of memory");
    return 0;
  }
}

int on_null(void* ctx) {
  return event(ctx, [](Builder& b) { return b.add(Value()); });
}
int on_boolean(void* ctx, int v) {
  return event(ctx, [v](Builder& b) { return b.add(Value(v != 0)); });
}
int on_number(void* ctx, const char* s, std::size_t len) {
  return event(ctx, [s, len](Builder& b) { return b.number(s, len); });
}
// The parser lets some invalid UTF-8 through (overlong forms, encoded
// surrogates); such text is refused here, as the writer could not give it
// back unchanged.
int on_string(void* ctx, const unsigned char* s, std::size_t len) {
  return event(ctx, [s, len](Builder& b) {
    std::string text(reinterpret_cast<const char*>(s), len);
    if (!valid_utf8(text)) {
      b.fail("string is not valid UTF-8");
      return false;
    }
    return b.add(Value(std::move(text)));
  });
}
int on_start_map(void* ctx) {
  return event(ctx, [](Builder& b) { return b.open(Value(Object())); });
}
int on_map_key(void* ctx, const unsigned char* k, std::size_t len) {
  return event(ctx, [k, len](Builder& b) {
    b.set_key(k, len);
    if (!valid_utf8(b.key())) {
      b.fail("object key is not valid UTF-8");
      return false;
    }
    return true;
  });
}
int on_end(void* ctx) {
  return event(ctx, [](Builder& b) { return b.close(); });
}
int on_start_array(void* ctx) {
  return event(ctx, [](Builder& b) { return b.open(Value(Array())); });
}

const yajl_callbacks CALLBACKS = {
    on_null,      on_boolean, nullptr, nullptr,        on_number, on_string,
    on_start_map, on_map_key, on_end,  on_start_array, on_end,
};

struct Handle_Deleter {
  void operator()(yajl_handle_t* h) const { yajl_free(h); }
};

// One line of YAJL's error text.
std::string parser_error(yajl_handle h, const std::string& text) {
  unsigned char* msg =
      yajl_get_error(h, 0, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  std::string out = msg ? reinterpret_cast<const char*>(msg) : "malformed JSON text";
  if (msg) yajl_free_error(h, msg);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

}  // namespace

bool read(const std::string& text, Value& out, std::string* error) {
  Builder builder;
  std::unique_ptr<yajl_handle_t, Handle_Deleter> h(yajl_alloc(&CALLBACKS, nullptr, &builder));
  if (!h) {
    if (error) *error = "out of memory";
    return false;
  }
  yajl_config(h.get(), yajl_allow_comments, 1);
  yajl_status st =
      yajl_parse(h.get(), reinterpret_cast<const unsigned char*>(text.data()), text.size());
  if (st == yajl_status_ok) st = yajl_complete_parse(h.get());
  if (st != yajl_status_ok) {
    if (error) {
      *error = (st == yajl_status_client_canceled && !builder.error().empty())
                   ? builder.error()
                   : parser_error(h.get(), text);
    }
    return false;
  }
  out = std::move(builder.root());
  return true;
}

}  // namespace json_spirit
