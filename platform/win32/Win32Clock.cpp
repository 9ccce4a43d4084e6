// Local time and the general date format of the user's locale: the short
// date (GetDateFormatA, DATE_SHORTDATE), a blank, the long time
// (GetTimeFormatA with the locale's time format).
#include <string>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/win32/WinApi.h"

namespace qb::platform {

namespace {

class Win32Clock final : public Clock {
  public:
    LocalTime Now() override {
        SYSTEMTIME st;
        ::GetLocalTime(&st);
        return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
    }

    // GetTickCount (GetTickCount64 is not in Windows XP), widened: its 32
    // bits wrap after 49.7 days of uptime, which the count of wraps seen
    // carries on. Asked often enough that no wrap goes unseen.
    int64_t Milliseconds() override {
        const DWORD ticks = ::GetTickCount();
        if (ticks < lastTicks_)
            ++wraps_;
        lastTicks_ = ticks;
        return (wraps_ << 32) + static_cast<int64_t>(ticks);
    }

    std::string GeneralDate(const LocalTime& t) override {
        SYSTEMTIME st{};
        st.wYear = static_cast<WORD>(t.year);
        st.wMonth = static_cast<WORD>(t.month);
        st.wDay = static_cast<WORD>(t.day);
        st.wHour = static_cast<WORD>(t.hour);
        st.wMinute = static_cast<WORD>(t.minute);
        st.wSecond = static_cast<WORD>(t.second);
        char date[128];
        char time[128];
        if (::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date,
                             sizeof date) == 0 ||
            ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, sizeof time) == 0)
            return UsGeneralDate(t);  // a date the system cannot format
        return std::string(date) + " " + time;
    }

  private:
    DWORD lastTicks_ = 0;
    int64_t wraps_ = 0;
};

}  // namespace

Clock& DefaultClock() {
    static Win32Clock clock;
    return clock;
}

}  // namespace qb::platform
