#pragma once

namespace Ovra {
namespace health {

// The words of self-test kinds and results (DiskSelfTest); "unknown" for other numbers.
const wchar_t* SelfTestKindName(int kind);
const wchar_t* SelfTestResultName(int result);

}  // namespace health
}  // namespace Ovra
