// A libmicrohttpd response that sends a streamed reply body
// (JSON_Stream_Reader) as the connection takes it, in chunked transfer
// encoding, so the body is never held whole.
#ifndef WEBSVCS_SERVER_STREAMED_RESPONSE_H
#define WEBSVCS_SERVER_STREAMED_RESPONSE_H

#include <microhttpd.h>

#include <cstdint>
#include <memory>

#include "websvcs/framework/json_stream.h"

// A response that owns `reader` and reads it in the polling thread of its
// connection; bytes sent are added to `*sent` (which the caller keeps
// alive with it). A reader that fails cuts the reply short: the connection
// is closed, so the client never takes half a document for a whole one.
// Null when the response cannot be created (the reader is then freed).
struct MHD_Response* make_streamed_response(std::unique_ptr<JSON_Stream_Reader> reader,
                                            std::shared_ptr<std::uint64_t> sent);

#endif
