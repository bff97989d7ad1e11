#include "host/client/driver_library.h"

#include "host/client/loader.h"
#include "host/client/records.h"

namespace jynhost {

bool DriverLibrary::Load(const std::string& path, std::string& error) {
    Unload();
    path_ = path.empty() ? DriverBesideExecutable() : path;
    void* handle = loader::Open(path_, error);
    if (handle == nullptr) return false;
    auto entry = reinterpret_cast<EntryPoint>(loader::Symbol(handle, "JynMain"));
    if (entry == nullptr) {
        error = path_ + " has no export JynMain";
        loader::Close(handle);
        return false;
    }
    handle_ = handle;
    entry_ = entry;
    return true;
}

void DriverLibrary::Unload() {
    if (handle_ != nullptr) loader::Close(handle_);
    handle_ = nullptr;
    entry_ = nullptr;
}

int32_t DriverLibrary::Call(jyn::DriverContext* context, uint32_t function, void* params,
                            uint32_t instance) const {
    jyn::CallBlock block = MakeCallBlock(context, function, instance, params);
    return entry_(&block);
}

bool DriverLibrary::StillLoaded(const std::string& path) { return loader::IsMapped(path); }

std::string DriverBesideExecutable() { return loader::ExecutableDirectory() + loader::kDriverFile; }

}  // namespace jynhost
