// Cost of the directory grant walk itself: the tree is generated on the fly by
// a platform whose calls do nothing, so what is left is the walk's own work
// per object (the open and identity checks, the pending stack of handles, the
// virtual calls).
// The walk's peak heap use is counted by the replaced operator new below.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/files.h"
#include "platform/security.h"
#include "sandbox/grants.h"

// ---- Heap accounting ---------------------------------------------------------
// Every allocation carries a small header with its size and whether it was made
// while counting, so memory allocated before a measurement and freed during it
// is never subtracted from the measurement.
namespace {

struct alignas(16) AllocationHeader {
    std::size_t size;
    bool counted;
};
static_assert(sizeof(AllocationHeader) == 16);

bool g_counting = false;
std::int64_t g_current = 0;
std::int64_t g_peak = 0;

void* counted_allocate(std::size_t size) {
    void* raw = std::malloc(sizeof(AllocationHeader) + size);
    if (raw == nullptr) return nullptr;
    auto* header = static_cast<AllocationHeader*>(raw);
    header->size = size;
    header->counted = g_counting;
    if (g_counting) {
        g_current += static_cast<std::int64_t>(size);
        g_peak = std::max(g_peak, g_current);
    }
    return header + 1;
}

void counted_free(void* memory) {
    if (memory == nullptr) return;
    auto* header = static_cast<AllocationHeader*>(memory) - 1;
    if (header->counted) g_current -= static_cast<std::int64_t>(header->size);
    std::free(header);
}

void* allocate_or_throw(std::size_t size) {
    if (void* memory = counted_allocate(size)) return memory;
    throw std::bad_alloc();
}

// Peak bytes allocated (and not yet freed) between construction and peak().
class HeapPeak {
public:
    HeapPeak() {
        g_current = 0;
        g_peak = 0;
        g_counting = true;
    }
    ~HeapPeak() { g_counting = false; }
    HeapPeak(const HeapPeak&) = delete;
    HeapPeak& operator=(const HeapPeak&) = delete;
    std::int64_t peak() const { return g_peak; }
};

}  // namespace

void* operator new(std::size_t size) { return allocate_or_throw(size); }
void* operator new[](std::size_t size) { return allocate_or_throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted_allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted_allocate(size); }
void operator delete(void* memory) noexcept { counted_free(memory); }
void operator delete[](void* memory) noexcept { counted_free(memory); }
void operator delete(void* memory, std::size_t) noexcept { counted_free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { counted_free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { counted_free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { counted_free(memory); }

// ---- Generated trees -----------------------------------------------------------
namespace zub {
namespace {

std::uint64_t mix(std::uint64_t seed, std::uint64_t salt) {
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ull * (salt + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Names seen in real node_modules trees.
constexpr const char* PACKAGE_NAMES[] = {
    "lodash", "react", "react-dom", "debug", "ms", "chalk", "semver", "commander", "@babel",
    "@types", "tslib", "glob", "minimatch", "brace-expansion", "balanced-match", "inherits",
    "once", "wrappy", "readable-stream", "safe-buffer", "string_decoder", "util-deprecate",
    "supports-color", "has-flag", "ansi-styles", "color-convert", "color-name", "escape-string-regexp",
    "js-tokens", "loose-envify", "object-assign", "yargs", "yargs-parser", "cliui", "wrap-ansi",
    "strip-ansi", "ansi-regex", "string-width", "emoji-regex", "is-fullwidth-code-point",
    "source-map", "source-map-support", "buffer-from", "uuid", "mime-types", "mime-db",
    "@jest", "picomatch", "micromatch", "braces", "fill-range", "to-regex-range", "is-number",
    "fast-glob", "@nodelib", "graceful-fs", "fs-extra", "jsonfile", "universalify", "rimraf",
    "mkdirp", "minimist", "resolve", "path-parse", "is-core-module", "has", "function-bind",
    "acorn", "esbuild", "@esbuild", "postcss", "nanoid", "picocolors", "electron-to-chromium",
    "browserslist", "caniuse-lite", "node-releases", "update-browserslist-db", "escalade",
};
constexpr std::uint32_t PACKAGE_NAME_COUNT = std::size(PACKAGE_NAMES);

constexpr const char* SCOPED_NAMES[] = {"core", "parser", "types", "generator", "traverse",
                                        "helpers", "runtime", "template", "node", "utils"};
constexpr const char* PACKAGE_FILES[] = {"package.json", "README.md",    "LICENSE",
                                         "index.js",     "index.d.ts",   "CHANGELOG.md",
                                         ".npmignore"};
constexpr const char* LIB_FILES[] = {"index.js",   "utils.js",     "parser.js", "stringify.js",
                                     "helpers.js", "constants.js", "types.js"};

constexpr std::uint32_t MAX_NESTING = 3;  // node_modules inside node_modules, at most this deep

enum class Kind : std::uint8_t { WideRoot, WideDirectories, DeepDirectory, Modules, Scope, Package, Lib };

// A directory of a generated tree; its entries follow from these fields alone.
struct Node {
    Kind kind;
    std::uint32_t level;  // Modules, Scope, Package: the nesting of node_modules
    std::uint32_t count;  // WideRoot: files; WideDirectories: empty directories;
                          // DeepDirectory: directories still below;
                          // Modules, Scope: packages
    std::uint64_t seed;
};

struct Name {
    char16_t units[64];
    std::size_t length = 0;

    Name& set(const char* text) {
        length = 0;
        return append(text);
    }
    Name& append(const char* text) {
        while (*text) units[length++] = static_cast<char16_t>(*text++);
        return *this;
    }
    // By hand: a formatted print would cost more than the walk's own work.
    Name& append_number(std::uint32_t value) {
        char16_t digits[10];
        int n = 0;
        do {
            digits[n++] = static_cast<char16_t>(u'0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0) units[length++] = digits[--n];
        return *this;
    }
};

struct Child {
    Name name;
    bool is_directory = false;
    Node node{};
};

std::uint32_t package_file_count(std::uint64_t seed) { return 4 + mix(seed, 1) % 4; }
std::uint32_t lib_file_count(std::uint64_t seed) { return 2 + mix(seed, 2) % 6; }
std::uint32_t nested_package_count(const Node& package) {
    if (package.level >= MAX_NESTING || mix(package.seed, 3) % 3 == 0) return 0;
    return 1 + mix(package.seed, 4) % 4;
}

void set_directory(Child& out, const char* name, Node node) {
    out.name.set(name);
    out.is_directory = true;
    out.node = node;
}

// The `index`th entry of `directory`, or false past its last entry. O(1): the
// listing serves any tree without storing it.
bool child_at(const Node& directory, std::uint32_t index, Child& out) {
    out.is_directory = false;
    switch (directory.kind) {
        case Kind::WideRoot:
            if (index >= directory.count) return false;
            out.name.set("chunk-").append_number(index).append(".js");
            return true;
        case Kind::WideDirectories:
            if (index >= directory.count) return false;
            out.name.set("d-").append_number(index);
            out.is_directory = true;
            out.node = {Kind::WideRoot, 0, 0, 0};
            return true;
        case Kind::DeepDirectory:
            if (index > 0 || directory.count == 0) return false;
            set_directory(out, "d", {Kind::DeepDirectory, 0, directory.count - 1, 0});
            return true;
        case Kind::Modules: {
            if (index >= directory.count) return false;
            const std::uint32_t pick =
                static_cast<std::uint32_t>((mix(directory.seed, 5) + index) % PACKAGE_NAME_COUNT);
            const char* base = PACKAGE_NAMES[pick];
            const std::uint64_t seed = mix(directory.seed, 1000 + index);
            if (base[0] == '@') {
                set_directory(out, base,
                              {Kind::Scope, directory.level,
                               1 + static_cast<std::uint32_t>(mix(seed, 6) % 4), seed});
            } else {
                set_directory(out, base, {Kind::Package, directory.level, 0, seed});
            }
            // The top level holds more packages than there are names.
            if (index >= PACKAGE_NAME_COUNT) out.name.append("-").append_number(index / PACKAGE_NAME_COUNT);
            return true;
        }
        case Kind::Scope: {
            if (index >= directory.count) return false;
            const std::uint64_t pick = (mix(directory.seed, 8) + index) % std::size(SCOPED_NAMES);
            set_directory(out, SCOPED_NAMES[pick],
                          {Kind::Package, directory.level, 0, mix(directory.seed, 100 + index)});
            return true;
        }
        case Kind::Package: {
            const std::uint32_t files = package_file_count(directory.seed);
            if (index < files) {
                out.name.set(PACKAGE_FILES[index]);
                return true;
            }
            if (index == files) {
                set_directory(out, "lib", {Kind::Lib, 0, 0, mix(directory.seed, 9)});
                return true;
            }
            const std::uint32_t nested = nested_package_count(directory);
            if (index > files + 1 || nested == 0) return false;
            set_directory(out, "node_modules",
                          {Kind::Modules, directory.level + 1, nested, mix(directory.seed, 10)});
            return true;
        }
        case Kind::Lib:
            if (index >= lib_file_count(directory.seed)) return false;
            out.name.set(LIB_FILES[index]);
            return true;
    }
    return false;
}

struct TreeSize {
    std::uint64_t entries = 0;      // everything below the root
    std::uint64_t directories = 0;  // of those, directories
    // The sum of every entry's depth: what a DACL write that the system
    // propagates adds, once per directory above each object.
    std::uint64_t depths = 0;
};

// Without recursion: the deep tree is 100,000 levels.
TreeSize measure_tree(const Node& root) {
    TreeSize size;
    std::vector<std::pair<Node, std::uint64_t>> pending{{root, 0}};
    Child child;
    while (!pending.empty()) {
        const auto [directory, depth] = pending.back();
        pending.pop_back();
        for (std::uint32_t i = 0; child_at(directory, i, child); ++i) {
            ++size.entries;
            size.depths += depth + 1;
            if (child.is_directory) {
                ++size.directories;
                pending.emplace_back(child.node, depth + 1);
            }
        }
    }
    return size;
}

// A node_modules root with as many top-level packages as it takes to reach
// `entries` objects below it.
Node node_modules_root(std::uint64_t entries) {
    Node root{Kind::Modules, 0, UINT32_MAX, 42};
    Child child;
    std::uint64_t total = 0;
    std::uint32_t packages = 0;
    while (total < entries && child_at(root, packages, child)) {
        total += 1 + measure_tree(child.node).entries;
        ++packages;
    }
    root.count = packages;
    return root;
}

// ---- The platform -----------------------------------------------------------------

constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE_BIT = 0x20;

class GeneratedTreePlatform;

// The walk keeps one listing open at a time, so one static slot holds it:
// neither malloc nor the heap count sees the platform's own object.
class GeneratedListing final : public DirectoryListing {
public:
    GeneratedListing(GeneratedTreePlatform& platform, const Node& directory, std::uint64_t directory_id)
        : platform_(platform), directory_(directory), directory_id_(directory_id) {}
    bool next(DirEntry& entry) override;

    static void* operator new(std::size_t size) {
        if (slot_in_use_ || size > sizeof slot_) std::abort();
        slot_in_use_ = true;
        return slot_;
    }
    static void operator delete(void*) { slot_in_use_ = false; }

private:
    GeneratedTreePlatform& platform_;
    Node directory_;
    std::uint64_t directory_id_;
    std::uint32_t index_ = 0;
    Child child_;

    alignas(std::max_align_t) static inline unsigned char slot_[256];
    static inline bool slot_in_use_ = false;
};

// The two roles the walk uses; every call costs next to nothing.
// A handle is a slot of a table sized in advance, so the platform's own
// bookkeeping never allocates inside a measurement.
class GeneratedTreePlatform final : public Files, public Security {
public:
    GeneratedTreePlatform(const Node& root, std::uint64_t directories) : root_(root) {
        slots_.resize(directories + 3);
        free_.reserve(slots_.size());
    }

    // System calls the walk asked for, over all iterations.
    struct Calls {
        std::uint64_t opens = 0, identities = 0, listings = 0, dacl_reads = 0, dacl_controls = 0,
                      dacl_writes = 0, closes = 0;
    } calls;

    void reset() {
        free_.clear();
        for (std::size_t i = slots_.size(); i-- > 0;) free_.push_back(i);
        grants_ = 0;
        open_ = 0;
    }
    std::uint64_t grants() const { return grants_; }
    std::size_t max_open_handles() const { return max_open_; }
    bool all_closed() const { return open_ == 0; }

    // The listing reports each entry here; the walk opens it next.
    void listed(const Child& child, std::uint64_t id) {
        last_child_ = child;
        last_id_ = id;
    }
    // An entry's ID follows from its directory's and its place there, so an
    // entry opened again has the ID it was listed with.
    static std::uint64_t id_of(std::uint64_t directory_id, std::uint32_t index) {
        return mix(directory_id, index) | 1;
    }
    std::uint64_t id_of_handle(Handle directory) const { return slots_[index_of(directory)].id; }
    // Every DACL already holds the entry: the walk reads and writes nothing back.
    bool granted_before = false;

    HandleResult create_file_w(const char16_t*, std::uint32_t, std::uint32_t,
                               const SecurityAttributes*, std::uint32_t, std::uint32_t) override {
        ++calls.opens;
        return {take({root_, true, 1}), 0};
    }
    HandleResult open_relative(Handle directory, std::u16string_view name, std::uint32_t) override {
        ++calls.opens;
        if (name.empty()) return {take(Slot(slots_[index_of(directory)])), 0};
        if (name == std::u16string_view(last_child_.name.units, last_child_.name.length)) {
            return {take({last_child_.node, last_child_.is_directory, last_id_}), 0};
        }
        return {reopen(directory, name), 0};
    }
    BoolResult query_file_identity(Handle file, IdWidth, FileIdentity* identity) override {
        ++calls.identities;
        const Slot& slot = slots_[index_of(file)];
        identity->attributes = slot.is_directory ? FILE_ATTRIBUTE_DIRECTORY_BIT : FILE_ATTRIBUTE_ARCHIVE_BIT;
        identity->file_id = FileId::from_64(slot.id);
        return {true, 0};
    }
    std::unique_ptr<DirectoryListing> open_directory_listing(Handle directory) override {
        ++calls.listings;
        const Slot& slot = slots_[index_of(directory)];
        return std::make_unique<GeneratedListing>(*this, slot.node, slot.id);
    }
    bool close_handle(Handle handle) override {
        ++calls.closes;
        free_.push_back(index_of(handle));
        --open_;
        return true;
    }
    // Every object's descriptor: its control, then a DACL of one entry, 8 bytes in.
    BoolResult get_kernel_object_security(Handle, std::uint32_t, void* buffer, std::uint32_t size,
                                          std::uint32_t* needed) override {
        ++grants_;
        ++calls.dacl_reads;
        *needed = 8 + ACL_BYTES;
        if (size < *needed) return {false, ERROR_INSUFFICIENT_BUFFER_CODE};
        const AclHeader header{2, 0, ACL_BYTES, 1, 0};
        std::memset(buffer, 0, *needed);
        std::memcpy(static_cast<unsigned char*>(buffer) + 8, &header, sizeof header);
        return {true, 0};
    }
    BoolResult get_security_descriptor_dacl(SecurityDescriptor descriptor, bool* present, Acl* dacl) override {
        *present = true;
        *dacl = reinterpret_cast<Acl>(reinterpret_cast<unsigned char*>(descriptor) + 8);
        return {true, 0};
    }
    // The merged DACL: the one read when the tree was granted before, one entry longer otherwise.
    std::uint32_t set_entries_in_acl_w(std::uint32_t, const ExplicitAccess*, Acl old_acl,
                                       Acl* new_acl) override {
        std::memcpy(merged_.data(), old_acl, ACL_BYTES);
        if (!granted_before) {
            const AclHeader header{2, 0, 2 * ACL_BYTES - sizeof(AclHeader), 2, 0};
            std::memcpy(merged_.data(), &header, sizeof header);
        }
        *new_acl = reinterpret_cast<Acl>(merged_.data());
        return 0;
    }
    BoolResult get_security_descriptor_control(SecurityDescriptor, std::uint16_t* control) override {
        ++calls.dacl_controls;
        *control = 0x0404;
        return {true, 0};
    }
    BoolResult set_kernel_object_security(Handle, std::uint32_t, const AbsoluteSecurityDescriptor*) override {
        ++calls.dacl_writes;
        return {true, 0};
    }
    void local_free(void*) override {}

    // Not used by the walk.
    std::optional<std::uint32_t> attributes_from_directory_entry(const char16_t*) override {
        std::abort();
    }
    Handle get_std_handle(std::uint32_t) override { std::abort(); }
    BoolResult set_handle_information(Handle, std::uint32_t, std::uint32_t) override {
        std::abort();
    }
    BoolResult create_well_known_sid(std::uint32_t, Sid, void*, std::uint32_t*) override {
        std::abort();
    }

private:
    struct Slot {
        Node node;
        bool is_directory;
        std::uint64_t id;
        // Pending subdirectories come back in the reverse of their listing
        // order: each is looked for below the last one found.
        std::uint32_t reopen_below = UINT32_MAX;
    };
    // A pending subdirectory of `directory`, opened again by its name.
    Handle reopen(Handle directory, std::u16string_view name) {
        Slot& parent = slots_[index_of(directory)];
        Child child;
        if (parent.reopen_below == UINT32_MAX) {
            parent.reopen_below = 0;
            while (child_at(parent.node, parent.reopen_below, child)) ++parent.reopen_below;
        }
        while (parent.reopen_below > 0) {
            const std::uint32_t index = --parent.reopen_below;
            child_at(parent.node, index, child);
            if (name == std::u16string_view(child.name.units, child.name.length)) {
                return take({child.node, true, id_of(parent.id, index)});
            }
        }
        std::abort();  // the walk asked for an entry that was never listed
    }
    Handle take(const Slot& slot) {
        if (free_.empty()) std::abort();  // more open handles than directories: a leak
        const std::size_t index = free_.back();
        free_.pop_back();
        slots_[index] = slot;
        max_open_ = std::max(max_open_, ++open_);
        return (index + 1) * 4;
    }
    static std::size_t index_of(Handle handle) { return handle / 4 - 1; }

    Node root_;
    std::vector<Slot> slots_;
    std::vector<std::size_t> free_;
    Child last_child_;
    std::uint64_t last_id_ = 0;
    std::uint64_t grants_ = 0;
    std::size_t open_ = 0;
    std::size_t max_open_ = 0;
    static constexpr std::uint16_t ACL_BYTES = sizeof(AclHeader) + 16;
    std::array<std::uint64_t, 8> merged_{};
};

bool GeneratedListing::next(DirEntry& entry) {
    if (!child_at(directory_, index_, child_)) return false;
    ++index_;
    entry.name.assign(child_.name.units, child_.name.length);
    entry.attributes = child_.is_directory ? FILE_ATTRIBUTE_DIRECTORY_BIT : FILE_ATTRIBUTE_ARCHIVE_BIT;
    const std::uint64_t id = GeneratedTreePlatform::id_of(directory_id_, index_ - 1);
    entry.file_id = FileId::from_64(id);
    platform_.listed(child_, id);
    return true;
}

// ---- The benchmarks ------------------------------------------------------------------

void walk(benchmark::State& state, const Node& root, bool granted_before = false) {
    const TreeSize size = measure_tree(root);
    const std::uint64_t objects = size.entries + 1;  // and the root itself
    const OsString root_path = u"C:\\bench\\tree";
    GeneratedTreePlatform platform(root, size.directories);
    platform.granted_before = granted_before;
    static unsigned char container_sid[16];

    std::int64_t peak = 0;
    for (auto _ : state) {
        platform.reset();
        HeapPeak heap;
        const Status<SandboxError> granted =
            grant_allow_set_root(platform, platform, root_path, container_sid,
                                 ALLOW_SET_READ_ACCESS, false);
        peak = std::max(peak, heap.peak());
        if (!granted || !platform.all_closed() || platform.grants() != objects) {
            state.SkipWithError("the walk did not visit the generated tree as expected");
            break;
        }
    }
    const auto object_count = static_cast<double>(objects);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * objects));
    state.counters["objects"] = object_count;
    state.counters["max_open_handles"] = static_cast<double>(platform.max_open_handles());
    // Calls per object: what the walk costs the system, whatever the system's speed.
    const double visited = static_cast<double>(state.iterations()) * object_count;
    const auto per_object = [&](std::uint64_t count) { return static_cast<double>(count) / visited; };
    state.counters["opens_per_object"] = per_object(platform.calls.opens);
    state.counters["identities_per_object"] = per_object(platform.calls.identities);
    state.counters["listings_per_object"] = per_object(platform.calls.listings);
    state.counters["dacl_reads_per_object"] = per_object(platform.calls.dacl_reads);
    state.counters["dacl_writes_per_object"] = per_object(platform.calls.dacl_writes);
    // What the same walk cost on Windows when each directory's write was
    // propagated by the system to every object below it (SetSecurityInfo).
    state.counters["dacl_writes_per_object_if_propagated"] =
        static_cast<double>(objects + size.depths) / object_count;
    state.counters["ns_per_object"] =
        benchmark::Counter(object_count * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
    state.counters["peak_heap_bytes"] = static_cast<double>(peak);
}

void BM_GrantWalkWide(benchmark::State& state) {
    walk(state, {Kind::WideRoot, 0, static_cast<std::uint32_t>(state.range(0)), 0});
}
BENCHMARK(BM_GrantWalkWide)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_GrantWalkWideDirectories(benchmark::State& state) {
    walk(state, {Kind::WideDirectories, 0, static_cast<std::uint32_t>(state.range(0)), 0});
}
BENCHMARK(BM_GrantWalkWideDirectories)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_GrantWalkDeep(benchmark::State& state) {
    walk(state, {Kind::DeepDirectory, 0, static_cast<std::uint32_t>(state.range(0)), 0});
}
BENCHMARK(BM_GrantWalkDeep)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_GrantWalkNodeModules(benchmark::State& state) {
    walk(state, node_modules_root(static_cast<std::uint64_t>(state.range(0))));
}
BENCHMARK(BM_GrantWalkNodeModules)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The same tree granted again, as a package manager's next run finds it.
void BM_GrantWalkNodeModulesGrantedBefore(benchmark::State& state) {
    walk(state, node_modules_root(static_cast<std::uint64_t>(state.range(0))), true);
}
BENCHMARK(BM_GrantWalkNodeModulesGrantedBefore)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zub
