#include "runtime/hosted_service.h"

Hosted_Service::~Hosted_Service() {}
