#include "terminal/TVtLine.h"

QString TVtLine::Text(int from, int to, QList<int>* columns) const {
    QString text;
    to = std::min(to, static_cast<int>(Cells.size()));
    if (columns)
        columns->clear();
    qsizetype kept = 0; // the length without the trailing blanks
    for (int col = std::max(from, 0); col < to; ++col) {
        const TVtCell& cell = Cells.at(col);
        if (cell.Flags & TVtCell::WideRight)
            continue;
        const char32_t ch = cell.Char == 0 ? U' ' : cell.Char;
        text.append(QChar::fromUcs4(ch));
        if (cell.Marks > 0 && cell.Marks <= Marks.size())
            text.append(Marks.at(cell.Marks - 1));
        if (columns) {
            while (columns->size() < text.size())
                columns->append(col);
        }
        if (ch != U' ')
            kept = text.size();
    }
    text.truncate(kept);
    if (columns)
        columns->resize(kept);
    return text;
}

void TVtLine::TrimBlankEnd() {
    qsizetype end = Cells.size();
    while (end > 0 && Cells.at(end - 1).IsBlank() && Cells.at(end - 1).Marks == 0)
        --end;
    Cells.resize(end);
}
