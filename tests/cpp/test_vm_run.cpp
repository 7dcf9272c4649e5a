// Running programs: loading, the variables seen by name, the
// interrupt check point and the recursion guard.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parser/mod.h"
#include "vm/mod.h"

using namespace morvane;

namespace {

Result<void> run(Vm& vm, std::string_view code, std::string_view macro = "main") {
    auto program = parser::parse(code);
    if (!program) return fail("syntax: " + program.error());
    return vm.run_sub(*program, macro);
}

int g_polls = 0;
bool stop_after_two_polls() { return ++g_polls > 2; }

}  // namespace

TEST(VmRun, VariablesByName) {
    Vm vm;
    ASSERT_TRUE(run(vm, "Sub Main()\nx = 1\ny = \"a\"\nEnd Sub\n").has_value());
    ASSERT_NE(vm.find_var("x"), nullptr);
    EXPECT_EQ(vm.find_var("x")->as_int(), 1);
    EXPECT_EQ(vm.find_var("nope"), nullptr);
    vm.set_var("z", Variant(2.5));
    vm.remove_var("y");
    std::vector<std::string> names;
    vm.for_each_var([&](const std::string& name, const Variant&) { names.push_back(name); });
    // The module variables first, then the entry procedure's locals.
    EXPECT_EQ(names, (std::vector<std::string>{"z", "x"}));
    ASSERT_TRUE(run(vm, "Sub Main()\nw = z * 2\nEnd Sub\n").has_value());
    EXPECT_EQ(vm.find_var("w")->as_int(), 5);
}

TEST(VmRun, InterruptCannotBeSwallowed) {
    Vm vm;
    g_polls = 0;
    vm.set_interrupt_check(stop_after_two_polls);
    auto r = run(vm, "Sub Main()\nOn Error Resume Next\nDo\nn = 1\nLoop\nEnd Sub\n");
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), "Interrupted");
    EXPECT_TRUE(vm.interrupted());
    g_polls = -1000;
    EXPECT_TRUE(run(vm, "Sub Main()\nm = 1\nEnd Sub\n").has_value());
    EXPECT_FALSE(vm.interrupted());
}

TEST(VmRun, RecursionGuard) {
    Vm vm;
    auto r = run(vm, "Function F(n)\nF = F(n + 1)\nEnd Function\nSub Main()\nx = F(1)\nEnd Sub\n");
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), "Out of stack space");
    // The guard leaves the interpreter usable, and deep but bounded recursion works.
    auto deep = run(vm,
                    "Function D(n)\nIf n > 0 Then D = D(n - 1) + 1 Else D = 0\nEnd Function\n"
                    "Sub Main()\nx = D(300)\nEnd Sub\n");
    ASSERT_TRUE(deep.has_value()) << deep.error();
    EXPECT_EQ(vm.find_var("x")->as_int(), 300);
}

TEST(VmRun, CallingDefinitionsDirectly) {
    Vm vm;
    auto program = parser::parse("Function Add(a, b)\nAdd = a + b\nEnd Function\nSub Put(v)\nstored = v\nEnd Sub\n");
    ASSERT_TRUE(program.has_value());
    ASSERT_FALSE(vm.run_sub(*program, "none").has_value());  // loads the tables
    auto sum = vm.call_func_def(program->functions[0], {Variant(int64_t{2}), Variant(int64_t{3})});
    ASSERT_TRUE(sum.has_value());
    EXPECT_EQ(sum->as_int(), 5);
    ASSERT_TRUE(vm.call_sub_def(program->subs[0], {Variant("v")}).has_value());
    EXPECT_EQ(vm.find_var("stored")->as_str(), "v");
    EXPECT_EQ(vm.find_var("v"), nullptr);
}

TEST(VmRun, TwoVmsRunOneParsedProgram) {
    auto program =
        parser::parse("Function Twice(n)\nTwice = n * 2\nEnd Function\nSub Main()\nx = Twice(21)\nEnd Sub\n");
    ASSERT_TRUE(program.has_value());
    Vm a, b;
    // Names met in another order: b numbers its variables apart from a.
    b.set_var("other", Variant(int64_t{1}));
    b.set_var("more", Variant(int64_t{2}));
    ASSERT_TRUE(a.run_sub(*program, "main").has_value());
    ASSERT_TRUE(b.run_sub(*program, "main").has_value());
    EXPECT_EQ(a.find_var("x")->as_int(), 42);
    EXPECT_EQ(b.find_var("x")->as_int(), 42);
    // a runs the caller's definitions after b loaded the same tree: each Vm
    // binds its own copy, so a reads and writes its own variables.
    auto twice = a.call_func_def(program->functions[0], {Variant(int64_t{5})});
    ASSERT_TRUE(twice.has_value()) << twice.error();
    EXPECT_EQ(twice->as_int(), 10);
    a.set_var("x", Variant(int64_t{0}));
    ASSERT_TRUE(a.call_sub_def(program->subs[0], {}).has_value());
    EXPECT_EQ(a.find_var("x")->as_int(), 42);
    EXPECT_EQ(b.find_var("other")->as_int(), 1);
    EXPECT_EQ(b.find_var("more")->as_int(), 2);
    // The caller's tree itself is never written.
    EXPECT_EQ(program->subs[0].body[0].stmt.as<Stmt::Assign>().slot, kNoSlot);
}
