#include "base/FileMapping.h"

#include "base/File.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace ulen3 {

namespace {

// The mappings the bus-error handler knows, in slots it reads without a lock.
struct Slot {
    std::atomic<char*> begin{nullptr};
    std::atomic<std::size_t> length{0};
    std::atomic<bool> cut{false};
};
constexpr int kSlots = 16;
Slot g_slots[kSlots];
std::mutex g_taking; // taking and giving back slots
struct sigaction g_previous;
std::size_t g_page = 4096;

// A read of a mapped page past the file's end: a zero-filled page takes that page's place and the
// read goes on. A bus error anywhere else is handled as before this handler came.
void on_bus_error(int signal, siginfo_t* info, void*) {
    char* const at = static_cast<char*>(info->si_addr);
    for (Slot& slot : g_slots) {
        char* const begin = slot.begin.load();
        if (begin == nullptr || at < begin || at >= begin + slot.length.load())
            continue;
        void* const page = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(at) & ~(g_page - 1));
        if (mmap(page, g_page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            slot.cut.store(true);
            return;
        }
    }
    sigaction(signal, &g_previous, nullptr); // the fault comes again, to the earlier handler
}

void install_handler() {
    g_page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = on_bus_error;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g_previous);
}

} // namespace

std::unique_ptr<FileMapping> FileMapping::map(const File& file, std::size_t length) {
    if (length == 0 || !file.isOpen())
        return nullptr;
    static std::once_flag installed;
    std::call_once(installed, install_handler);
    const std::lock_guard<std::mutex> lock(g_taking);
    int free = 0;
    while (free < kSlots && g_slots[free].begin.load() != nullptr)
        ++free;
    if (free == kSlots)
        return nullptr;
    // Populated at once: every page of the table is read by the walk that follows anyway.
    void* const data = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file.descriptor(), 0);
    if (data == MAP_FAILED)
        return nullptr;
    Slot& slot = g_slots[free];
    slot.cut.store(false);
    slot.length.store(length);
    slot.begin.store(static_cast<char*>(data));
    return std::unique_ptr<FileMapping>(new FileMapping(static_cast<char*>(data), length, free));
}

FileMapping::~FileMapping() {
    const std::lock_guard<std::mutex> lock(g_taking);
    g_slots[m_slot].begin.store(nullptr);
    munmap(m_data, m_size);
}

bool FileMapping::cut() const { return g_slots[m_slot].cut.load(); }

} // namespace ulen3
