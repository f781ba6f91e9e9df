#include <Ovra/ServiceShells.h>

#include <gtest/gtest.h>

#include <type_traits>

namespace Ovra {
namespace {

static_assert(std::is_abstract<DiagService>::value, "the diagnostic shell leaves its work open");
static_assert(std::is_abstract<RebootService>::value, "the reboot shell leaves its work open");
static_assert(std::has_virtual_destructor<DiagService>::value, "deleted through the base");
static_assert(std::is_base_of<Service, RebootService>::value, "a Service");

// What a host derives from the shell.
template <typename Shell>
class Concrete : public Shell {
public:
    int created = 0;
    int Create() override { return ++created; }
    void Destroy() override {}
    int Start() override { return this->StartThread(0) ? 0 : 105; }
    void Stop() override { this->StopThread(kInfinite, 1); }
    ~Concrete() override { Stop(); }
};

template <typename Shell>
void ExerciseShell() {
    Concrete<Shell> service;
    EXPECT_EQ(service.Create(), 1);
    EXPECT_EQ(service.AddRef(), 1u);
    EXPECT_EQ(service.Start(), 0);  // the inherited thread body returns at once
    service.Stop();
    Concrete<Shell> copy(service);
    EXPECT_EQ(copy.AddRef(), 2u);  // the reference count is copied
    EXPECT_EQ(copy.Release(), 1u);
    Service* asBase = new Concrete<Shell>();
    delete asBase;  // virtual destruction through the Service base
}

TEST(ServiceShells, BothShellsAreUsableBases) {
    ExerciseShell<DiagService>();
    ExerciseShell<RebootService>();
}

}  // namespace
}  // namespace Ovra
