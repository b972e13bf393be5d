#include "app/core/AppState.h"

#include <algorithm>

namespace restorix {

void AppState::SetCurrentPartition(const std::wstring& name, uint8_t fsKind) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_partitionName = name.substr(0, std::min(name.find(L'\0'), kMaxPartitionName));
  m_partitionType = fsKind;
  ++m_scanGeneration;
}

std::wstring AppState::PartitionName() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_partitionName;
}

uint8_t AppState::PartitionType() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_partitionType;
}

void AppState::SetImageFile(const std::wstring& path) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_imageFile = path;
}

std::wstring AppState::ImageFile() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_imageFile;
}

void AppState::SetPreviewFile(const std::wstring& path) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_previewFile = path;
}

std::wstring AppState::PreviewFile() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_previewFile;
}

}  // namespace restorix
