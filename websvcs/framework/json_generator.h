// A producer of a JSON reply body that writes into a YAJL generator.
#ifndef WEBSVCS_FRAMEWORK_JSON_GENERATOR_H
#define WEBSVCS_FRAMEWORK_JSON_GENERATOR_H

#include <yajl/yajl_gen.h>

class JSON_Generator {
 public:
  virtual ~JSON_Generator() {}
  // Writes exactly one complete JSON value into `g` (which the caller owns).
  // Returns false when the body could not be produced; the channel then
  // answers 500 instead of sending a partial document.
  virtual bool generate(yajl_gen_t* g) = 0;
};

#endif
