#pragma once

// The small web pages of the service: the menu's share, donate and tutorial pages, the
// recommended links shown inside the program, the start page and the demo item pages.

#include "cls.DemoMarket.h"

#include <string>

enum class EPage
{
    Index,
    Share,
    Donate,
    Tutorial,
    RecommendedLinks
};

std::string StaticPage(EPage page, const std::string& backendName);
std::string ItemPage(const TDemoItemRecord& record, std::int64_t nowMs);
std::string NotFoundPage(const std::string& what);
