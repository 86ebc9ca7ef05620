// The connection of one request: what arrived, and the reply being built.
//
// A channel carries exactly one reply. The first send_* call fixes the
// body; later ones are refused (-1) and change nothing. A handler that only
// sets a status and returns gets that status with an empty body; one that
// does neither gets 200 with an empty body (see complete()).
//
// One channel serves one request in one thread; it is not shared.
#ifndef WEBSVCS_FRAMEWORK_JSON_RESTFUL_CHANNEL_H
#define WEBSVCS_FRAMEWORK_JSON_RESTFUL_CHANNEL_H

#include <memory>
#include <string>

#include "json_spirit/json_spirit_value.h"
#include "websvcs/framework/cgi_response.h"
#include "websvcs/framework/json_generator.h"
#include "websvcs/framework/json_restful_request.h"
#include "websvcs/framework/json_stream.h"

class JSON_RESTful_Channel {
 public:
  JSON_RESTful_Channel();
  virtual ~JSON_RESTful_Channel();
  JSON_RESTful_Channel(const JSON_RESTful_Channel&) = delete;
  JSON_RESTful_Channel& operator=(const JSON_RESTful_Channel&) = delete;

  const JSON_RESTful_Request& request() const { return request_; }
  JSON_RESTful_Request& request() { return request_; }
  CGI_Response* response() { return &response_; }
  const CGI_Response* response() const { return &response_; }

  // Sends `v` as the JSON body (status 200 unless one was set). 0 on
  // success; -1 when a reply was already sent or `v` cannot be written as
  // JSON (then nothing is sent).
  virtual int send_value(const json_spirit::Value& v);

  // Sends the body that `gen` writes (status 200 unless one was set). When
  // generate() returns false or writes an incomplete or invalid document,
  // nothing of it is sent, the reply becomes a 500 error and -1 is
  // returned; -1 also when a reply was already sent.
  virtual int send_generator(JSON_Generator& gen);

  // Sends the document that `stream` writes, produced while the connection
  // sends it (status 200 unless one was set). The first STREAM_PRIME_BYTES
  // are produced here: a document that ends within them is stored as an
  // ordinary body (body()); a longer one is kept for the server to stream
  // (stream()), and body() stays empty. A stream that fails here gives a
  // 500 error reply and -1; one that fails later is cut short by the
  // server (the connection is closed). -1 also when a reply was already
  // sent or `stream` is null.
  virtual int send_stream(std::unique_ptr<JSON_Stream> stream);
  static const std::size_t STREAM_PRIME_BYTES = 65536;

  // Sends `body` as it is, with the Content-Type `content_type` (status 200
  // unless one was set), for replies that are not JSON. 0 on success; -1
  // when a reply was already sent, or `content_type` is null, empty or holds
  // a control character (then nothing is sent).
  virtual int send_text(const std::string& body, const char* content_type);

  // Sends an error reply: status `status` (500 when outside 400..599) and
  // the body {"status": status, "code": code, "message": message}
  // (message "" when null). 0 on success, -1 when a reply was already sent.
  virtual int send_error(int status, int code, const char* message);

  // Turns a handler's result into the final reply. Nothing sent: a set
  // status is kept with an empty body; with no status, a result of 0 gives
  // 200 and any other result 500 with an error body. Idempotent.
  void complete(int handler_result);

  // What has been sent so far.
  bool sent() const { return sent_; }
  const std::string& body() const { return body_; }
  const std::string& content_type() const { return content_type_; }
  // The reply body still to be streamed (send_stream), null when none; the
  // server takes it.
  std::unique_ptr<JSON_Stream_Reader>& stream() { return stream_; }
  // The final status: response()->status(), or 200 when none was set.
  int reply_status() const;

 protected:
  // Stores one reply body; false when one was already sent.
  bool store(const std::string& body, const char* content_type);
  // Reads a stream kept by send_stream into body() (for channels that do
  // not stream); a stream that fails becomes a 500 error reply.
  void drain_stream();

  JSON_RESTful_Request request_;
  CGI_Response response_;

 private:
  bool sent_;
  std::string body_;
  std::string content_type_;
  std::unique_ptr<JSON_Stream_Reader> stream_;
};

#endif
