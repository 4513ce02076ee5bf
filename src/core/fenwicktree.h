#pragma once

#include <QVector>

// Prefix sums over a list of counts that change one at a time: both a change
// and a sum take O(log n), so a position in a long text can be found from the
// lengths of the lines before it without adding them all up.
class FenwickTree
{
public:
    // Takes the values and builds the tree in place, in O(n).
    void assign(QVector<qint64> values)
    {
        m_tree = std::move(values);
        const qsizetype n = m_tree.size();
        for (qsizetype i = 0; i < n; ++i) {
            const qsizetype parent = i | (i + 1);
            if (parent < n)
                m_tree[parent] += m_tree[i];
        }
    }

    void add(qsizetype index, qint64 delta)
    {
        for (qsizetype i = index; i < m_tree.size(); i |= i + 1)
            m_tree[i] += delta;
    }

    // Sum of the first count values.
    qint64 prefixSum(qsizetype count) const
    {
        qint64 sum = 0;
        for (qsizetype i = count - 1; i >= 0; i = (i & (i + 1)) - 1)
            sum += m_tree[i];
        return sum;
    }

private:
    QVector<qint64> m_tree;
};
