// The schema factory under allocation failure: the N-th allocation made
// while the factory runs fails (the object itself through the non-throwing
// allocation, the declaration's own allocations by throwing), N raised
// until the factory succeeds. Every run must end with either a complete
// declaration or null with errno ENOMEM, and never with an exception.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "d2t/controller/media_controller_metadata.h"

namespace {

// Allocations left before one fails; negative: none fails.
thread_local long g_allocations_left = -1;

bool allocation_fails() {
  if (g_allocations_left < 0) return false;
  return g_allocations_left-- == 0;
}

void* allocate(std::size_t size) {
  if (allocation_fails()) return nullptr;
  return std::malloc(size ? size : 1);
}

}  // namespace

void* operator new(std::size_t size) {
  void* p = allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

TEST(Media_Controller_Metadata_Factory, AllocationFailureGivesNullAndEnomem) {
  int failures = 0;
  for (long n = 0;; ++n) {
    ASSERT_LT(n, 100000) << "the factory never succeeded";
    SCOPED_TRACE("allocation " + std::to_string(n));
    Media_Controller_Metadata_Gobbler gobble = nullptr;
    database::sql::Metadata* md = nullptr;
    bool threw = false;
    errno = 0;
    g_allocations_left = n;
    try {
      md = _make_Media_Controller_Metadata(&gobble);
    } catch (...) {
      threw = true;
    }
    const bool fired = g_allocations_left < 0;
    const int saved_errno = errno;
    g_allocations_left = -1;
    ASSERT_FALSE(threw);
    EXPECT_EQ(&_gobble_Media_Controller_Metadata, gobble);
    if (!fired) {  // a complete declaration
      ASSERT_NE(nullptr, md);
      EXPECT_EQ("media_controller", md->name());
      EXPECT_EQ(Media_Controller_Metadata().version(), md->version());
      EXPECT_EQ(4u, md->tables().size());  // changer, drive, slot, media_capacity
      EXPECT_EQ("", md->errors());
      gobble(md);
      break;
    }
    ++failures;
    if (md)
      gobble(md);  // the declaration survived that allocation
    else
      EXPECT_EQ(ENOMEM, saved_errno);
  }
  EXPECT_GT(failures, 1);
  // Without a place for the destroyer the factory still makes an object.
  database::sql::Metadata* md = _make_Media_Controller_Metadata(nullptr);
  ASSERT_NE(nullptr, md);
  _gobble_Media_Controller_Metadata(md);
  _gobble_Media_Controller_Metadata(nullptr);
}

}  // namespace
