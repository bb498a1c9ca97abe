#pragma once

#include "tables/error.h"

#include <QString>

// The message of the AppError that `call` raises; empty when it raises none.
template <typename Call> QString errorOf(Call&& call)
{
    try {
        call();
    } catch (const AppError& error) {
        return error.message();
    }
    return {};
}
