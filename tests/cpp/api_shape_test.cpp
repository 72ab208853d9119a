// What the C++ API promises about its types, checked when this file
// compiles, and the moves and checked values at run time.
#include <type_traits>
#include <utility>
#include <vector>

#include "Board.h"
#include "Hub.h"
#include "Meter.h"
#include "emu_helpers.h"

using namespace korvane;

namespace {

template <typename Model>
constexpr bool movableOnly =
    std::is_move_constructible_v<Model> &&std::is_move_assignable_v<Model> &&
    !std::is_copy_constructible_v<Model> && !std::is_copy_assignable_v<Model>;
static_assert(movableOnly<Board> && movableOnly<Hub> && movableOnly<Meter>);
static_assert(std::has_virtual_destructor_v<Connection>);
// The value of an outcome is reached through a checking accessor only.
static_assert(std::is_member_function_pointer_v<decltype(&Outcome<float>::value)>);
static_assert(!std::is_aggregate_v<Outcome<float>>);

// Queries that send nothing are callable on a const object.
[[maybe_unused]] std::string describe(const Meter &meter) {
    return meter.isOpen() ? "open" : "closed";
}

class ApiShape : public EmuTest {};

TEST_F(ApiShape, AMovedModelTakesItsConnectionAndAFailedValueIsNotRead) {
    addDevice("DMM", "DM-1", "/dev/emu-m");
    std::vector<Meter> meters;
    meters.emplace_back();
    ASSERT_EQ(Connection::OpenStatus::Opened, meters[0].open("/dev/emu-m"));
    meters.emplace_back();  // the vector moves the open meter
    Meter kept = std::move(meters[0]);
    EXPECT_EQ("open", describe(kept));
    EXPECT_EQ("DM-1", kept.identity(ATT_PRODUCT_SERIAL).valueOr(""));
    EXPECT_TRUE(kept.voltage().ok());
    EXPECT_EQ("closed", describe(meters[0]));
    const Outcome<float> none = meters[0].voltage();
    EXPECT_EQ(AttributeStatus::NotOpen, none.status());
    EXPECT_THROW((void)none.value(), BadOutcomeAccess);
    EXPECT_EQ(-1.0f, none.valueOr(-1.0f));
    // Assigned over, the meter it held is closed and the device free again.
    kept = Meter();
    EXPECT_EQ(Connection::OpenStatus::Opened, meters[1].open("/dev/emu-m"));
}

}  // namespace
