// What one procedure activation owns: its frame of variables. A loaded
// procedure (`Proc`) lays out every name its body uses as one index of its
// frame: parameters first, then its Function result, its declared locals
// and the names it uses undeclared. A frame holds one pointer per index,
// to the activation's own slot, to a module variable, to the procedure's
// Static value, or to the caller's variable a ByRef parameter aliases, so
// compiled code reaches every variable the same way. Frames live on a
// stack of fixed chunks: a slot never moves while its activation runs.
// Also what a call saves of its caller and the storage of by-reference
// arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <variant>
#include <vector>

#include "parser/ast.h"
#include "types/variant.h"
#include "values/var_type.h"
#include "vm/code.h"

namespace morvane {

struct ObjectRef;

namespace vm {

// Frees an object variable's reference (objects.h defines what it holds).
struct ObjectDeleter {
    void operator()(ObjectRef* object) const;
};
using ObjectPtr = std::unique_ptr<ObjectRef, ObjectDeleter>;

// A variable's storage: a value (which means nothing while `defined` is
// false), and the object a Set gave it, if any. A For Each variable over
// cells has both: the cell, and its value.
struct Slot {
    Variant value;
    bool defined = false;
    ObjectPtr object;
    // Frees what a cleared slot held, out of the hot paths.
    [[gnu::noinline]] void free_value() {
        value = Variant();
        object.reset();
    }
    [[gnu::always_inline]] void clear() {
        defined = false;
        // A number or other plain value may stay behind: nothing reads it.
        if (value.owns_memory() || object) [[unlikely]]
            free_value();
    }
};

// What a procedure declares a name as: its built-in type (of the elements,
// for an array), and for an array whether its size is fixed; for a record,
// its Type.
struct Declared {
    VarType type = VarType::Variant;
    bool array = false;
    bool fixed = false;
    std::string user_type;
};

// How an activation starts one index of its frame.
struct FrameEntry {
    // A module variable or a Static value; null for the activation's own slot.
    Slot* shared = nullptr;
    bool module = false;
    // A declared scalar (and a typed Function result) starts at its type's
    // default; anything else starts undefined.
    bool starts_defined = false;
    VarType type = VarType::Variant;
};

// A variable declared in a procedure's body, by index. A Static one
// (`static_at`, its place in Proc::statics) keeps its value between calls.
struct Local {
    uint32_t slot;
    VarType type;
    bool scalar;
    int32_t static_at = -1;
};

// A loaded procedure with its names laid out in its frame.
struct Proc {
    const std::vector<Param>* params = nullptr;
    const Body* body = nullptr;
    std::string name;
    bool is_function = false;
    // No ParamArray: each argument binds to the parameter in its place.
    bool plain_params = true;
    // A Function with plain parameters of no type or a numeric one, few
    // enough for a compiled call to bind numbers without the argument stack.
    bool num_call = false;
    // Every parameter is untyped.
    bool plain_types = true;
    // No index is shared: each is the activation's own slot, undefined at
    // the start but for those in `starts_defined`.
    bool plain_frame = true;
    // The own indices that start at their type's default, with the type.
    struct Start {
        uint32_t index;
        VarType type;
    };
    std::vector<Start> starts_defined;
    // The Function result's index (the Function's own name).
    uint32_t name_slot = 0;
    std::vector<uint32_t> param_slots;
    std::vector<VarType> param_types;
    // What each parameter takes without a conversion (values/var_type.h).
    std::vector<WholeRange> param_fits;
    VarType result_type = VarType::Variant;
    // Index -> name, name -> index, index -> how it starts.
    std::vector<std::string> names;
    std::unordered_map<std::string, uint32_t> index;
    std::vector<FrameEntry> entries;
    // Declared names by index: parameters, locals, the result, and the
    // module variables the body uses.
    std::unordered_map<uint32_t, Declared> declared;
    // Locals declared in the body (Dim, ReDim, Static).
    std::vector<Local> locals;
    uint32_t static_count = 0;
    // The Static variables' values, kept between calls and shared by
    // recursive activations.
    std::unique_ptr<Slot[]> statics;
    // The body compiled (code.h).
    Code code;
    // The default value of each Optional parameter compiled, in parameter
    // order; a node without `eval` where there is none.
    std::vector<XCode> defaults;

    uint32_t frame_size() const { return size; }
    // entries.size(), kept at hand for the calls.
    uint32_t size = 0;
};

// A stack of T in chunks that never move: what a running activation points
// into stays where it is while deeper calls push more. Entries are made
// once, when their chunk is, and reused as they are left.
template <class T>
class ChunkStack {
public:
    [[gnu::always_inline]] T* push(size_t n) {
        if (static_cast<size_t>(limit_ - top_) >= n) [[likely]] {
            T* p = top_;
            top_ += n;
            return p;
        }
        return push_new_chunk(n);
    }
    // Pops the last `n` pushed.
    [[gnu::always_inline]] void pop(size_t n) {
        top_ -= n;
        if (top_ == base_ && cur_ > 0) [[unlikely]]
            back_to_previous_chunk();
    }

private:
    static constexpr size_t kChunk = 4096;
    struct Chunk {
        std::unique_ptr<T[]> data;
        size_t cap = 0;
        // Where the chunk's top was when the next one was started.
        size_t used = 0;
    };
    [[gnu::noinline]] T* push_new_chunk(size_t n) {
        const size_t cap = n > kChunk ? n : kChunk;
        if (chunks_.empty() || top_ == base_) {
            // An empty current chunk too small for `n` is replaced.
            if (chunks_.empty()) chunks_.emplace_back();
            chunks_[cur_] = Chunk{std::make_unique<T[]>(cap), cap, 0};
        } else {
            chunks_[cur_].used = static_cast<size_t>(top_ - base_);
            ++cur_;
            if (cur_ == chunks_.size()) chunks_.emplace_back();
            if (chunks_[cur_].cap < n) chunks_[cur_] = Chunk{std::make_unique<T[]>(cap), cap, 0};
        }
        Chunk& c = chunks_[cur_];
        base_ = c.data.get();
        limit_ = base_ + c.cap;
        top_ = base_ + n;
        return base_;
    }
    [[gnu::noinline]] void back_to_previous_chunk() {
        --cur_;
        Chunk& c = chunks_[cur_];
        base_ = c.data.get();
        limit_ = base_ + c.cap;
        top_ = base_ + c.used;
    }
    std::vector<Chunk> chunks_;
    size_t cur_ = 0;
    T* base_ = nullptr;
    T* top_ = nullptr;
    T* limit_ = nullptr;
};

// One index of a running frame: the variable it stands for, and the
// activation's own slot, which it is unless the index is shared or aliased.
// A cell no activation uses points at its own slot, so that opening a frame
// of own slots writes nothing.
struct Cell {
    Slot* var = &own;
    Slot own;
    Cell() = default;
    Cell(const Cell&) = delete;
    Cell& operator=(const Cell&) = delete;
};

// One running activation: its procedure and its frame.
struct Activation {
    const Proc* proc = nullptr;
    Cell* cells = nullptr;
};

// How an activation treats a failure, copied as one unit.
struct ErrorMode {
    // On Error Resume Next is in force.
    bool resume_next = false;
    // The activation runs its error handler: a failure then goes to the
    // caller, and Resume may be used.
    bool handling = false;
};

// What a call saves of its caller's activation and puts back when it ends.
struct ErrorScope {
    ErrorMode mode;
    // The caller's On Error GoTo label waits on the Vm's outer labels.
    bool has_label;
    const Proc* proc;
    Cell* vars;
};

// A caller's storage an argument passed by reference refers to: a variable
// the parameter aliases for the whole call (`Alias`), or a variable of
// another type, an array element or a record field, which the parameter's
// value is written back to when the call ends.
struct RefArg {
    enum class Kind : uint8_t { Alias, Var, Element, Field };
    uint32_t param;
    Kind kind;
    uint32_t slot;
    uint64_t index = 0;
    const std::string* field = nullptr;
    Slot* target = nullptr;
};

}  // namespace vm

}  // namespace morvane
