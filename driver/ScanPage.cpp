// The scan's page: one HTML file with its style and script inline, that a
// browser opens from the result folder (its links name the result files
// beside it). What is the same size whatever the scan (totals, the two
// charts, the 20 slowest targets, the first failures) is HTML; the
// tables of every failed target and of every target are made by the
// page's script from a compact list of rows, 500 rows a page with a
// filter, so that 50,000 targets stay a page of a few megabytes that a
// browser shows at once.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "driver/ScanReport.h"
#include "driver/Progress.h"
#include "platform/Runtime.h"

namespace {

using CJson = nlohmann::json;

// Most columns of a chart: a column stands for several targets beyond.
constexpr size_t c_nChartColumns = 1000;
constexpr size_t c_nSlowest = 20;

std::string Escape(const std::string& strText) {
  std::string strOut;
  strOut.reserve(strText.size());
  for (const char ch : strText) {
    switch (ch) {
      case '&': strOut += "&amp;"; break;
      case '<': strOut += "&lt;"; break;
      case '>': strOut += "&gt;"; break;
      case '"': strOut += "&quot;"; break;
      case '\'': strOut += "&#39;"; break;
      default: strOut += ch; break;
    }
  }
  return strOut;
}

// A link's address for a file name beside the page: every byte outside
// the unreserved set percent-encoded.
std::string UrlOf(const std::string& strName) {
  static constexpr char c_szHex[] = "0123456789ABCDEF";
  std::string strUrl;
  for (const char ch : strName) {
    const unsigned char uch = static_cast<unsigned char>(ch);
    if ((uch >= 'A' && uch <= 'Z') || (uch >= 'a' && uch <= 'z') || (uch >= '0' && uch <= '9') || uch == '-' ||
        uch == '.' || uch == '_' || uch == '~') {
      strUrl += ch;
    } else {
      strUrl += '%';
      strUrl += c_szHex[uch >> 4];
      strUrl += c_szHex[uch & 15];
    }
  }
  return strUrl;
}

std::string Number(double dValue, const char* szFormat = "%.0f") {
  char szText[64];
  std::snprintf(szText, sizeof szText, szFormat, dValue);
  return szText;
}

const char* OutcomeColour(const std::string& strOutcome) {
  if (strOutcome == "complete") return "#2e8b57";
  if (strOutcome == "no answer") return "#a61b1b";
  if (strOutcome == "interrupted") return "#7a5cb0";
  if (strOutcome == "error budget" || strOutcome == "loop guard" || strOutcome == "incomplete" || strOutcome == "capped")
    return "#d08c00";
  return "#c4512d";
}

// A chart of one figure per target, largest first: one column per target
// or, with more targets than c_nChartColumns, per group of neighbours
// (the group's largest), each in the colour of its outcome and with its
// target's name on hover.
std::string ProfileChart(const std::string& strTitle, const std::string& strUnit,
                         std::vector<std::pair<double, const CTargetRecord*>> arrValues) {
  std::sort(arrValues.begin(), arrValues.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  const size_t nTargets = arrValues.size();
  const size_t nColumns = std::min(nTargets, c_nChartColumns);
  const double dMax = nTargets != 0 ? std::max(arrValues.front().first, 1e-9) : 1.0;
  constexpr int c_nWidth = 1000;
  constexpr int c_nHeight = 160;
  std::string strSvg = "<figure><figcaption>" + Escape(strTitle) + " (largest " +
                       Escape(nTargets != 0 ? Number(arrValues.front().first, "%.3g") : "0") + " " +
                       Escape(strUnit) + ", " + std::to_string(nTargets) + " targets" +
                       (nTargets > nColumns ? ", a column per " + Number(std::ceil(double(nTargets) / nColumns)) +
                                                  " targets"
                                            : std::string()) +
                       ")</figcaption><svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                       std::to_string(c_nWidth) + " " + std::to_string(c_nHeight) +
                       "\" width=\"100%\" height=\"" + std::to_string(c_nHeight) +
                       "\" preserveAspectRatio=\"none\" role=\"img\"><rect width=\"100%\" height=\"100%\" "
                       "class=\"chartbg\"/>";
  for (size_t nColumn = 0; nColumn < nColumns; ++nColumn) {
    const size_t nFirst = nColumn * nTargets / nColumns;
    const size_t nEnd = (nColumn + 1) * nTargets / nColumns;
    const double dValue = arrValues[nFirst].first;
    const double dHeight = std::max(dValue / dMax * c_nHeight, dValue > 0 ? 1.0 : 0.0);
    const double dColumnWidth = double(c_nWidth) / nColumns;
    std::string strTip = Escape(arrValues[nFirst].second->strTarget) + ": " + Number(dValue, "%.3g") + " " +
                         Escape(strUnit);
    if (nEnd - nFirst > 1) strTip += " (and " + std::to_string(nEnd - nFirst - 1) + " more, less)";
    strSvg += "<rect x=\"" + Number(nColumn * dColumnWidth, "%.2f") + "\" y=\"" +
              Number(c_nHeight - dHeight, "%.2f") + "\" width=\"" + Number(std::max(dColumnWidth - 0.2, 0.2), "%.2f") +
              "\" height=\"" + Number(dHeight, "%.2f") + "\" fill=\"" +
              OutcomeColour(OutcomeWord(*arrValues[nFirst].second)) + "\"><title>" + strTip + "</title></rect>";
  }
  strSvg += "</svg></figure>\n";
  return strSvg;
}

constexpr char c_szStyle[] = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222;background:#fff}
h1{font-size:1.4em;margin:0 0 .3em}h2{font-size:1.1em;margin:1.4em 0 .4em}
table{border-collapse:collapse;margin:.3em 0}th,td{padding:2px 8px;border-bottom:1px solid #ddd;text-align:left}
td.n,th.n{text-align:right;font-variant-numeric:tabular-nums}
.meta{color:#555}.ok{color:#176b2c}.bad{color:#a61b1b}.warn{color:#8a5a00}
figure{margin:.6em 0;max-width:1000px}figcaption{color:#555;margin-bottom:.2em}
.chartbg{fill:#f4f4f4}
.stack{display:flex;height:18px;max-width:1000px;border:1px solid #ccc}.stack span{display:block;height:100%}
.pager{margin:.4em 0}.pager button{margin-right:.4em}input{margin-right:.6em}
)";

// The page's script: the two paged tables (failed targets and every
// target) from the rows in the element "rows".
constexpr char c_szScript[] = R"(
(function () {
  var data = JSON.parse(document.getElementById('rows').textContent);
  var rows = data.rows, OUTCOMES = data.outcomes, REASONS = data.reasons, FORMATS = data.formats;
  var PAGE = 500;
  function esc(s) {
    return String(s).replace(/[&<>"']/g, function (c) {
      return {'&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;'}[c];
    });
  }
  function links(r) {
    return r[6].map(function (f) {
      var name = (r[9] || r[0]) + '.' + FORMATS[f[0]];
      return '<a href="' + encodeURIComponent(name) + '">' + esc(FORMATS[f[0]]) + '</a>' + (f[1] ? ' (kept)' : '');
    }).join(' ');
  }
  function table(id, pick) {
    var box = document.getElementById(id);
    var filter = box.querySelector('input');
    var info = box.querySelector('.info');
    var body = box.querySelector('tbody');
    var page = 0;
    function chosen() {
      var f = filter.value.toLowerCase();
      return rows.filter(function (r) {
        return pick(r) && (!f || r[0].toLowerCase().indexOf(f) >= 0 || OUTCOMES[r[1]].toLowerCase().indexOf(f) >= 0);
      });
    }
    function show() {
      var list = chosen();
      var pages = Math.max(1, Math.ceil(list.length / PAGE));
      page = Math.min(page, pages - 1);
      var html = [];
      list.slice(page * PAGE, (page + 1) * PAGE).forEach(function (r) {
        html.push('<tr><td>' + esc(r[0]) + '</td><td class="' + (r[3] ? 'ok' : r[7] ? 'bad' : 'warn') + '">' +
                  esc(OUTCOMES[r[1]]) + '</td><td class="n">' + (r[2] === null ? '' : r[2]) + '</td><td class="n">' +
                  r[4] + '</td><td class="n">' + r[5].toFixed(3) + '</td><td>' + esc(REASONS[r[8]]) + '</td><td>' +
                  links(r) +
                  '</td></tr>');
      });
      body.innerHTML = html.join('');
      info.textContent = list.length + ' targets, page ' + (page + 1) + ' of ' + pages;
    }
    filter.addEventListener('input', function () { page = 0; show(); });
    box.querySelector('.prev').addEventListener('click', function () { page = Math.max(0, page - 1); show(); });
    box.querySelector('.next').addEventListener('click', function () { page += 1; show(); });
    show();
  }
  table('failed', function (r) { return r[7]; });
  table('all', function () { return true; });
})();
)";

// A paged table's frame; the script fills it.
std::string PagedTable(const std::string& strId) {
  return "<div id=\"" + strId +
         "\"><div class=\"pager\"><input type=\"search\" placeholder=\"filter: name or outcome\">"
         "<button class=\"prev\">previous</button><button class=\"next\">next</button><span class=\"info\"></span>"
         "</div><table><thead><tr><th>target</th><th>outcome</th><th class=\"n\">code</th><th class=\"n\">objects</th>"
         "<th class=\"n\">seconds</th><th>reason</th><th>files</th></tr></thead><tbody></tbody></table></div>\n"
         "<noscript><p>The tables of every target need the page's script; scan.json and failed.txt list "
         "them.</p></noscript>\n";
}


}  // namespace

std::string ScanPageRow(const CTargetRecord& record, const CFilePaths& arrPaths, size_t nReason) {
  // Short: a page of 50,000 rows must stay small. The file names are the
  // name part (when it is not the target as given) and the format. One
  // row is kept by each rendering thread and filled in again, so its
  // values reuse their storage.
  thread_local CJson row = CJson::array();
  CJson::array_t& arrRow = row.get_ref<CJson::array_t&>();
  arrRow.resize(10);
  CJson& files = arrRow[6];
  if (!files.is_array()) files = CJson::array();
  files.get_ref<CJson::array_t&>().clear();
  std::string strNamePart;
  for (size_t i = 0; i < record.nFiles; ++i) {
    const CFileRecord& file = record.arrFiles[i];
    if (file.state == CFileRecord::EState::NotWritten || arrPaths[i].empty()) continue;
    const std::string strName = FileNameOfPath(arrPaths[i]);
    const std::string strExtension = std::string(".") + FormatName(file.uFormat);
    strNamePart = strName.substr(0, strName.size() - std::min(strName.size(), strExtension.size()));
    size_t nFormat = 0;
    while (nFormat + 1 < std::size(c_arrFormats) && c_arrFormats[nFormat] != file.uFormat) ++nFormat;
    files.push_back({nFormat, file.state == CFileRecord::EState::Kept ? 1 : 0});
  }
  if (!arrRow[0].is_string()) arrRow[0] = std::string();
  arrRow[0].get_ref<std::string&>().assign(record.strTarget);
  arrRow[1] = OutcomeIndex(record);
  if (record.uCode == c_uNoThread) {
    arrRow[2] = nullptr;
  } else {
    arrRow[2] = record.uCode;
  }
  arrRow[3] = IsComplete(record) ? 1 : 0;
  arrRow[4] = record.nObjects;
  arrRow[5] = static_cast<double>(std::llround(record.dSeconds * 1000)) / 1000;
  arrRow[7] = IsFailed(record) ? 1 : 0;
  arrRow[8] = nReason;
  if (strNamePart.empty() || strNamePart == record.strTarget) {
    arrRow[9] = 0;
  } else {
    arrRow[9] = strNamePart;
  }
  // A "</" inside the rows would end the script element: JSON lets "/"
  // be escaped.
  std::string strRow = row.dump(-1, ' ', false, CJson::error_handler_t::replace);
  for (size_t nPos = 0; (nPos = strRow.find("</", nPos)) != std::string::npos; nPos += 3) strRow.replace(nPos, 2, "<\\/");
  return strRow;
}

// The links to a target's files that exist.
std::string ScanPageLinks(const CScanReport& report, const CTargetRecord& record) {
  std::string strLinks;
  for (size_t i = 0; i < record.nFiles; ++i) {
    const CFileRecord& file = record.arrFiles[i];
    if (file.state == CFileRecord::EState::NotWritten) continue;
    const std::string strPath = report.FilePath(record, file);
    if (strPath.empty()) continue;
    if (!strLinks.empty()) strLinks += " ";
    strLinks += "<a href=\"" + UrlOf(FileNameOfPath(strPath)) + "\">" + Escape(FormatName(file.uFormat)) + "</a>";
    if (file.state == CFileRecord::EState::Kept) strLinks += " (kept)";
  }
  return strLinks;
}

std::string ScanPageText(const CScanReport& report, const std::vector<std::string_view>& arrRows,
                         const std::vector<std::string>& arrReasons) {
  const auto& arrTargets = report.Targets();
  std::vector<std::pair<std::string, uint64_t>> arrTotals;  // in the order outcomes first came
  std::map<std::string, size_t> mapTotal;
  std::vector<std::pair<double, const CTargetRecord*>> arrTimes;
  std::vector<std::pair<double, const CTargetRecord*>> arrObjects;
  uint64_t nFailed = 0;
  uint64_t nObjects = 0;
  size_t nRowBytes = 2;
  for (const std::string_view row : arrRows) nRowBytes += row.size() + 1;
  std::string strRows = "[";
  strRows.reserve(nRowBytes);
  for (size_t i = 0; i < arrTargets.size(); ++i) {
    const CTargetRecord& record = arrTargets[i];
    if (!record.bRecorded) continue;
    const char* szOutcome = OutcomeWord(record);
    const auto [it, bNew] = mapTotal.emplace(szOutcome, arrTotals.size());
    if (bNew) arrTotals.emplace_back(szOutcome, 0);
    ++arrTotals[it->second].second;
    arrTimes.emplace_back(record.dSeconds, &record);
    arrObjects.emplace_back(static_cast<double>(record.nObjects), &record);
    nFailed += IsFailed(record) ? 1 : 0;
    nObjects += record.nObjects;
    if (i < arrRows.size()) {
      if (strRows.size() > 1) strRows += ",";
      strRows += arrRows[i];
    }
  }
  strRows += "]";
  CJson formats = CJson::array();
  for (const uint32_t uFormat : c_arrFormats) formats.push_back(FormatName(uFormat));
  std::string strTables = ",\"outcomes\":" + CJson(OutcomeWords()).dump() + ",\"reasons\":" +
                          CJson(arrReasons).dump(-1, ' ', false, CJson::error_handler_t::replace) +
                          ",\"formats\":" + formats.dump() + "}";
  for (size_t nPos = 0; (nPos = strTables.find("</", nPos)) != std::string::npos; nPos += 3) strTables.replace(nPos, 2, "<\\/");
  const size_t nTargets = arrTargets.size();

  std::string strPage =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\"><title>mibscan: " +
      std::to_string(nTargets) + " targets, " + Escape(report.StartText()) + "</title><style>" + c_szStyle +
      "</style></head><body>\n";
  strPage += "<h1>Scan of " + std::to_string(nTargets) + " targets</h1>\n<p class=\"meta\">" +
             Escape(report.StartText()) + " to " + Escape(report.EndText()) + " (" + Number(report.Seconds(), "%.1f") +
             " s) on " + Escape(HostName()) + ", mibscan " + Escape(MIBSCAN_VERSION) + "; " +
             std::to_string(nTargets - nFailed) + " answered, " + std::to_string(nFailed) + " failed, " +
             std::to_string(nObjects) + " objects</p>\n";

  strPage += "<h2>Outcomes</h2>\n<div class=\"stack\" role=\"img\">";
  for (const auto& [strOutcome, nCount] : arrTotals) {
    strPage += "<span style=\"width:" + Number(100.0 * double(nCount) / double(std::max<size_t>(nTargets, 1)), "%.3f") +
               "%;background:" + OutcomeColour(strOutcome) + "\" title=\"" + Escape(strOutcome) + ": " +
               std::to_string(nCount) + "\"></span>";
  }
  strPage += "</div>\n<table id=\"totals\"><thead><tr><th>outcome</th><th class=\"n\">targets</th></tr></thead><tbody>";
  for (const auto& [strOutcome, nCount] : arrTotals) {
    strPage += "<tr><td><span style=\"color:" + std::string(OutcomeColour(strOutcome)) + "\">&#9632;</span> " +
               Escape(strOutcome) + "</td><td class=\"n\">" + std::to_string(nCount) + "</td></tr>";
  }
  strPage += "</tbody></table>\n";

  strPage += "<h2>Time and objects per target</h2>\n";
  strPage += ProfileChart("Seconds per target", "s", arrTimes);
  strPage += ProfileChart("Objects per target", "objects", arrObjects);

  strPage += "<h2>The " + std::to_string(std::min(c_nSlowest, arrTimes.size())) +
             " slowest</h2>\n<table id=\"slowest\"><thead><tr><th>target</th><th class=\"n\">seconds</th>"
             "<th>outcome</th><th class=\"n\">objects</th><th>files</th></tr></thead><tbody>";
  std::vector<std::pair<double, const CTargetRecord*>> arrSlowest = arrTimes;
  const size_t nSlowest = std::min(c_nSlowest, arrSlowest.size());
  std::partial_sort(arrSlowest.begin(), arrSlowest.begin() + static_cast<std::ptrdiff_t>(nSlowest), arrSlowest.end(),
                    [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t i = 0; i < nSlowest; ++i) {
    const CTargetRecord& record = *arrSlowest[i].second;
    strPage += "<tr><td>" + Escape(record.strTarget) + "</td><td class=\"n\">" + Number(record.dSeconds, "%.3f") +
               "</td><td>" + Escape(OutcomeWord(record)) + "</td><td class=\"n\">" + std::to_string(record.nObjects) +
               "</td><td>" + ScanPageLinks(report, record) + "</td></tr>";
  }
  strPage += "</tbody></table>\n";

  strPage += "<h2>Failed targets (" + std::to_string(nFailed) + ")</h2>\n";
  strPage += "<p class=\"meta\">failed.txt lists them, one a line: <code>mibscan -f failed.txt</code> tries them "
             "again.</p>\n";
  strPage += PagedTable("failed");
  strPage += "<h2>Every target (" + std::to_string(nTargets) + ")</h2>\n";
  strPage += PagedTable("all");

  strPage += "<script type=\"application/json\" id=\"rows\">{\"rows\":" + strRows + strTables + "</script>\n<script>" + c_szScript +
             "</script>\n</body></html>\n";
  return strPage;
}
