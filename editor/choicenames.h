#pragma once

#include <QString>

// The names of the marketplace's codes that every seller meets (item conditions, return
// periods, who pays the return, dispatch times, countries, payment methods and the usual
// German shipping services), built into the program. The editor shows them for a stored
// choice when the marketplace's own lists can't be had, rather than the bare code.
namespace ChoiceNames {

enum class List {
    Condition,
    ReturnsWithin,
    ShippingCostPaidBy,
    DispatchTime,
    Country,
    PaymentMethod,
    ShippingService,
};

// The name of `code` in `list`; empty when the program does not know it.
QString name(List list, const QString &code);

} // namespace ChoiceNames
