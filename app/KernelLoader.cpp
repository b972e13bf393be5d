#include "app/KernelLoader.h"
#include "app/core/UiText.h"

#include <algorithm>
#include <iterator>

namespace {
using InitFn = decltype(&SH_Init);
using UnInitFn = decltype(&SH_UnInit);
using CountFn = decltype(&SH_GetPartitionCount);
using ParameterFn = decltype(&SH_GetPartitionParameter);
using ScanFn = decltype(&SH_Scan);
using StopFn = decltype(&SH_StopTask);
using RecoverFn = decltype(&SH_RecoveryFile);
using ItemCountFn = decltype(&SH_GetDelItemCount);
using ItemByIndexFn = decltype(&SH_GetDelItemFromIndex);
using ItemByIdFn = decltype(&SH_GetDelItemFromID);
using ScanStatusFn = decltype(&KX_GetLastScanStatus);
using ItemInfoFn = decltype(&KX_GetDelItemInfo);
using ReadTableFn = decltype(&KX_ReadPartitionTable);
using MapVolumeFn = decltype(&KX_MapVolume);
using StartScanFn = decltype(&KX_StartScan);
using TypeNameFn = decltype(&KX_GetPartitionTypeName);
using ProgressFn = decltype(&KX_GetScanProgress);
}  // namespace

restorix::FoundItem ToFoundItem(DelItem& record) {
  record.path[std::size(record.path) - 1] = 0;  // never trust a terminator
  return {record.path, {record.idLow, record.idHigh}, record.size, record.modified};
}

KernelLoader::~KernelLoader() {
  if (m_module) {
    if (auto uninit = Resolve<UnInitFn>("SH_UnInit")) uninit();
    FreeLibrary(m_module);
    m_module = nullptr;
  }
}

template <typename Fn>
Fn KernelLoader::Resolve(const char* name) const {
  if (!m_module) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
}

int KernelLoader::LoadKernel() {
  if (m_module) return 1;
  const std::wstring path = m_programFolder + L"\\Kestrel.dll";
  m_module = LoadLibraryW(path.c_str());
  if (!m_module) {
    MessageBoxW(nullptr, restorix::ui::kLoadFailure, restorix::ui::kLoadFailureCaption, MB_OK);
    return 0;
  }
  if (auto init = Resolve<InitFn>("SH_Init")) init(nullptr);
  return 1;
}

int KernelLoader::UnloadKernel() {
  if (!m_module) return 1;
  auto uninit = Resolve<UnInitFn>("SH_UnInit");
  if (!uninit) return 0;
  uninit();
  return 1;
}

int KernelLoader::GetPartitionCount() {
  auto fn = Resolve<CountFn>("SH_GetPartitionCount");
  return fn ? fn() : 0;
}

int KernelLoader::GetPartitionParameter(PartitionParameter* out, int index) {
  auto fn = Resolve<ParameterFn>("SH_GetPartitionParameter");
  return fn ? fn(out, index) : 0;
}

int KernelLoader::GetItemCount() {
  auto fn = Resolve<ItemCountFn>("SH_GetDelItemCount");
  return fn ? fn() : 0;
}

int KernelLoader::GetItemByIndex(int index, DelItem* out) {
  auto fn = Resolve<ItemByIndexFn>("SH_GetDelItemFromIndex");
  return fn ? fn(index, out) : 0;
}

int KernelLoader::GetItemById(uint32_t idLow, uint32_t idHigh, DelItem* out) {
  auto fn = Resolve<ItemByIdFn>("SH_GetDelItemFromID");
  return fn ? fn(idLow, idHigh, out) : 0;
}

int KernelLoader::StopTask() {
  auto fn = Resolve<StopFn>("SH_StopTask");
  return fn ? fn() : 0;
}

int KernelLoader::RecoverFile(const wchar_t* folder, uint32_t idLow, uint32_t idHigh) {
  if (!folder) return 0;
  auto fn = Resolve<RecoverFn>("SH_RecoveryFile");
  return fn ? fn(folder, idLow, idHigh) : 0;
}

int KernelLoader::Scan(const wchar_t* prefix, const wchar_t* volume, int mode, HWND window) {
  if (!prefix || !volume) return 0;
  auto fn = Resolve<ScanFn>("SH_Scan");
  return fn ? fn(prefix, volume, mode, window) : 0;
}

std::optional<int> KernelLoader::GetLastScanStatus(std::wstring& text) {
  auto fn = Resolve<ScanStatusFn>("KX_GetLastScanStatus");
  if (!fn) return std::nullopt;
  wchar_t sentence[512] = {};
  const int code = fn(sentence, static_cast<int>(std::size(sentence)));
  sentence[std::size(sentence) - 1] = 0;
  text = sentence;
  return code;
}

bool KernelLoader::HasItemInfo() const { return Resolve<ItemInfoFn>("KX_GetDelItemInfo") != nullptr; }

std::optional<KX_ItemInfo> KernelLoader::GetItemInfo(uint32_t idLow, uint32_t idHigh) {
  auto fn = Resolve<ItemInfoFn>("KX_GetDelItemInfo");
  if (!fn) return std::nullopt;
  KX_ItemInfo info = {};
  info.size = sizeof info;
  if (!fn(idLow, idHigh, &info)) return std::nullopt;
  // A shorter record from the kernel leaves the rest as zero: state unknown.
  return info;
}

bool KernelLoader::ItemAt(int index, restorix::FoundItem& out) {
  DelItem record;
  if (!GetItemByIndex(index, &record)) return false;
  out = ToFoundItem(record);
  return true;
}

bool KernelLoader::RecoverItem(const std::wstring& folder, restorix::ItemId id) {
  return RecoverFile(folder.c_str(), id.low, id.high) != 0;
}

std::optional<std::vector<KX_PartitionInfo>> KernelLoader::ReadPartitionTable(const std::wstring& path) {
  auto fn = Resolve<ReadTableFn>("KX_ReadPartitionTable");
  if (!fn) return std::nullopt;
  // A GPT holds 128 entries; a looping extended chain is cut by the kernel.
  std::vector<KX_PartitionInfo> table(128);
  for (KX_PartitionInfo& p : table) p.size = sizeof p;
  const int count = fn(path.c_str(), table.data(), static_cast<int>(table.size()), nullptr, 0);
  if (count < 0) return std::nullopt;
  table.resize(std::min<size_t>(static_cast<size_t>(count), table.size()));
  for (KX_PartitionInfo& p : table) {
    p.fileSystem[std::size(p.fileSystem) - 1] = 0;
    p.typeName[std::size(p.typeName) - 1] = 0;
    p.name[std::size(p.name) - 1] = 0;
  }
  return table;
}

bool KernelLoader::MapVolume(wchar_t letter, const std::wstring& spec) {
  auto fn = Resolve<MapVolumeFn>("KX_MapVolume");
  return fn && fn(letter, spec.c_str()) != 0;
}

bool KernelLoader::CanStartScan() const { return Resolve<StartScanFn>("KX_StartScan") != nullptr; }

int KernelLoader::StartScan(const wchar_t* prefix, const wchar_t* volume, int mode, HWND window) {
  if (!prefix || !volume) return 0;
  auto fn = Resolve<StartScanFn>("KX_StartScan");
  return fn ? fn(prefix, volume, mode, window) : 0;
}

std::optional<KernelLoader::ScanProgress> KernelLoader::GetScanProgress() {
  auto fn = Resolve<ProgressFn>("KX_GetScanProgress");
  if (!fn) return std::nullopt;
  ScanProgress p;
  if (!fn(&p.done, &p.total)) return std::nullopt;
  return p;
}

std::optional<std::wstring> KernelLoader::PartitionTypeName(int index) {
  auto fn = Resolve<TypeNameFn>("KX_GetPartitionTypeName");
  if (!fn) return std::nullopt;
  wchar_t name[32] = {};
  if (fn(index, name, static_cast<int>(std::size(name))) <= 0) return std::nullopt;
  name[std::size(name) - 1] = 0;
  return std::wstring(name);
}
