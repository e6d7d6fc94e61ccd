#pragma once

// A scripted application store: a catalogue of products it knows, an
// optional failure for the next requests, and a payment queue the test
// pushes transactions through. It records every request and, unless told
// to hold them, answers at once on the caller's thread.

#include "platform/AppStore.h"

#include <QMap>
#include <QMutex>

#include <gtest/gtest.h>

#include <vector>

namespace fakes {

class FakeAppStore final : public platform::AppStore {
public:
    bool isAvailable() const override { return true; }

    void requestProducts(const QSet<QString>& identifiers, ProductsHandler handler) override
    {
        EXPECT_FALSE(identifiers.isEmpty()) << "a product request without identifiers";
        EXPECT_TRUE(handler) << "a product request without a handler";
        QMutexLocker lock(&mutex_);
        requests_.push_back(identifiers);
        if (holdAnswers_) {
            held_.push_back({ identifiers, std::move(handler) });
            return;
        }
        lock.unlock();
        answer(identifiers, handler);
    }

    void setTransactionObserver(TransactionObserver observer) override
    {
        QMutexLocker lock(&mutex_);
        observer_ = std::move(observer);
    }

    // ---- Script ----------------------------------------------------------------

    void addProduct(const platform::StoreProduct& product)
    {
        QMutexLocker lock(&mutex_);
        catalogue_.insert(product.productIdentifier, product);
    }
    // The next requests fail with this text (empty: they answer again).
    void failWith(const QString& error)
    {
        QMutexLocker lock(&mutex_);
        error_ = error;
    }
    // Requests wait for releaseAnswers().
    void holdAnswers(bool hold)
    {
        QMutexLocker lock(&mutex_);
        holdAnswers_ = hold;
    }
    void releaseAnswers()
    {
        std::vector<Held> held;
        {
            QMutexLocker lock(&mutex_);
            held.swap(held_);
        }
        for (Held& h : held)
            answer(h.identifiers, h.handler);
    }
    // The payment queue reports these transactions to the observer.
    void pushTransactions(const QList<platform::StorePaymentTransaction>& transactions)
    {
        TransactionObserver observer;
        {
            QMutexLocker lock(&mutex_);
            observer = observer_;
        }
        ASSERT_TRUE(observer) << "transactions pushed without an observer";
        observer(transactions);
    }

    std::vector<QSet<QString>> requests() const
    {
        QMutexLocker lock(&mutex_);
        return requests_;
    }

private:
    struct Held {
        QSet<QString> identifiers;
        ProductsHandler handler;
    };

    void answer(const QSet<QString>& identifiers, const ProductsHandler& handler)
    {
        ProductsResponse response;
        QString error;
        {
            QMutexLocker lock(&mutex_);
            error = error_;
            for (const QString& id : identifiers) {
                if (catalogue_.contains(id))
                    response.products.append(catalogue_.value(id));
                else
                    response.invalidProductIdentifiers.append(id);
            }
        }
        if (!error.isEmpty())
            handler(std::nullopt, error);
        else
            handler(response, QString());
    }

    mutable QMutex mutex_;
    QMap<QString, platform::StoreProduct> catalogue_;
    QString error_;
    bool holdAnswers_ = false;
    std::vector<Held> held_;
    std::vector<QSet<QString>> requests_;
    TransactionObserver observer_;
};

} // namespace fakes
