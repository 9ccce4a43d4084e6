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
};

}  // namespace

Clock& DefaultClock() {
    static Win32Clock clock;
    return clock;
}

}  // namespace qb::platform
