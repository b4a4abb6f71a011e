#pragma once
// A run's results as metrics a Prometheus server scrapes: the OpenMetrics text
// format, or the older Prometheus text format 0.0.4 for scrapers that do not
// ask for OpenMetrics.

#include "cli/Clireport.h"

#include <string>

enum class TMetricsFlavour { OpenMetrics, Prometheus004 };

inline constexpr const char* kOpenMetricsContentType = "application/openmetrics-text; version=1.0.0; charset=utf-8";
inline constexpr const char* kPrometheusContentType = "text/plain; version=0.0.4; charset=utf-8";

// Per item (labels plan, item, host, method): mean, fastest and slowest time
// of its answered tries in seconds (NaN when none answered), tries made and
// failed, and whether it answered at all; for a home page that got an
// answer, the mean of each phase of its fetches (label phase), the last
// status and, over TLS, when the certificate expires; per run: the overall
// average and the run's duration.
std::string FormatMetrics(const TRunReport& report, TMetricsFlavour flavour);

// A label value as both formats write it between double quotes.
std::string MetricsLabelValue(const std::string& utf8);
