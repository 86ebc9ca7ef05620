#include "d2t/controller/drive_reservations.h"

#include <algorithm>

Drive_Reservations::Hold::Hold(Hold&& other) noexcept
    : owner_(other.owner_), serials_(std::move(other.serials_)), reservation_(other.reservation_) {
  other.owner_ = nullptr;
}

Drive_Reservations::Hold& Drive_Reservations::Hold::operator=(Hold&& other) noexcept {
  if (this != &other) {
    release();
    owner_ = other.owner_;
    serials_ = std::move(other.serials_);
    reservation_ = other.reservation_;
    other.owner_ = nullptr;
  }
  return *this;
}

void Drive_Reservations::Hold::release() {
  if (owner_ == nullptr) return;
  owner_->release(serials_, reservation_);
  owner_ = nullptr;
  serials_.clear();
}

Drive_Reservations::Hold Drive_Reservations::use(const std::string& serial) {
  if (serial.empty()) return Hold();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] {
    auto it = drives_.find(serial);
    return it == drives_.end() || (!it->second.reserved && it->second.pending == 0);
  });
  ++drives_[serial].uses;
  return Hold(this, {serial}, false);
}

Drive_Reservations::Hold Drive_Reservations::reserve(std::vector<std::string> serials) {
  serials.erase(std::remove(serials.begin(), serials.end(), std::string()), serials.end());
  std::sort(serials.begin(), serials.end());
  serials.erase(std::unique(serials.begin(), serials.end()), serials.end());
  if (serials.empty()) return Hold();
  std::unique_lock<std::mutex> lock(mutex_);
  for (const std::string& s : serials) ++drives_[s].pending;
  changed_.wait(lock, [&] {
    for (const std::string& s : serials) {
      const State& st = drives_[s];
      if (st.uses != 0 || st.reserved) return false;
    }
    return true;
  });
  for (const std::string& s : serials) {
    State& st = drives_[s];
    --st.pending;
    st.reserved = true;
  }
  return Hold(this, std::move(serials), true);
}

bool Drive_Reservations::reserved(const std::string& serial) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = drives_.find(serial);
  return it != drives_.end() && it->second.reserved;
}

bool Drive_Reservations::held_back(const std::string& serial) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = drives_.find(serial);
  return it != drives_.end() && (it->second.reserved || it->second.pending != 0);
}

void Drive_Reservations::release(const std::vector<std::string>& serials, bool reservation) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& s : serials) {
      State& st = drives_[s];
      if (reservation)
        st.reserved = false;
      else
        --st.uses;
      forget_idle(s);
    }
  }
  changed_.notify_all();
}

void Drive_Reservations::forget_idle(const std::string& serial) {
  auto it = drives_.find(serial);
  if (it != drives_.end() && it->second.idle()) drives_.erase(it);
}
