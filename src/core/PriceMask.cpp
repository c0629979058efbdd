#include "core/PriceMask.h"

#include "platform/CodePage.h"

#include <cmath>

int ClientCodeSum(const QString &clientCode)
{
    int sum = 0;
    for (char c : pc::toCp1251(clientCode.trimmed()))
        sum += static_cast<unsigned char>(c);
    return sum;
}

int MaskInteger(int n, const QString &clientCode)
{
    return n ^ ClientCodeSum(clientCode);
}

double MaskPriceValue(double x, const QString &clientCode)
{
    const double whole = std::trunc(x);
    const int i = int(std::nearbyint(whole));
    const double f = std::nearbyint((x - whole) * 100.0);
    return double(MaskInteger(i, clientCode)) + f / 100.0;
}
