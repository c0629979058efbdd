#!/usr/bin/python3
"""Makes a supplier's price archive for the demonstration: <code>.zip holding
<code>.dbf, a price table in the supplier's layout (dBase III, text in code
page 866, prices masked with the client code), and price_det.dbf, the details
of some goods: the line shown under the grid (HASDET) and the pop-up note of
an offer (HASPOPUP).

    make_price.py <folder> <client code> [rows]
"""
import datetime
import os
import random
import struct
import subprocess
import sys

FIELDS = [('IDTOVAR', 'C', 20, 0), ('TOVAR', 'C', 100, 0), ('PRICE', 'N', 12, 2), ('PRODUCT', 'C', 50, 0),
          ('COUNTRY', 'C', 40, 0), ('PRICER', 'N', 12, 2), ('GODEN', 'D', 8, 0), ('QNT', 'N', 10, 0),
          ('QNTPACK', 'N', 10, 0), ('NDS', 'N', 3, 0), ('MINZAKAZ', 'N', 10, 0), ('MINPROD', 'N', 10, 0),
          ('COLOR', 'N', 10, 0), ('HASDET', 'N', 1, 0), ('HASPOPUP', 'N', 1, 0), ('GV', 'N', 1, 0),
          ('ZAKAZ', 'N', 10, 0), ('REGUDEXIST', 'C', 20, 0)]

NAMES = ['Аспирин', 'Анальгин', 'Амоксициллин', 'Бинт стерильный', 'Бромгексин', 'Валидол', 'Валериана',
         'Глицин', 'Диклофенак', 'Ибупрофен', 'Йод', 'Кагоцел', 'Корвалол', 'Лоратадин', 'Мезим',
         'Нурофен', 'Но-шпа', 'Омепразол', 'Парацетамол', 'Пенталгин', 'Ренни', 'Смекта', 'Супрастин',
         'Терафлю', 'Уголь активированный', 'Фталазол', 'Цитрамон', 'Энтерофурил', 'Эссенциале']
FORMS = ['таб. 500мг №10', 'таб. 200мг №20', 'капс. №30', 'р-р 5% 10мл', 'сироп 100мл', 'гель 50г']
DET_FIELDS = [('IDTOVAR', 'C', 14, 0), ('POPUP', 'C', 70, 0), ('INFO', 'C', 250, 0), ('ISREF', 'N', 1, 0)]
HASDET, HASPOPUP = 13, 14  # places in a price record

STORAGE = ['Хранить при температуре не выше 25 °C', 'Хранить в защищённом от света месте',
           'Хранить в холодильнике при 2-8 °C', 'Хранить в сухом месте, недоступном для детей']
OFFERS = ['Акция: скидка 5% при заказе от 10 упаковок', 'Новинка в ассортименте', 'Акция: третья упаковка в подарок',
          'Цена снижена до конца месяца']

PRODUCERS = [('Фармстандарт', 'Россия'), ('Озон', 'Россия'), ('Тева', 'Израиль'), ('Гедеон Рихтер', 'Венгрия'),
             ('КРКА', 'Словения'), ('Байер', 'Германия')]


def code_sum(code):
    return sum(code.strip().encode('cp1251'))


def mask_price(x, code):
    whole = int(x)
    frac = round((x - whole) * 100)
    return (whole ^ code_sum(code)) + frac / 100


def field_text(value, ftype, length, decimals):
    if ftype == 'C':
        data = value.encode('cp866')[:length]
        return data + b' ' * (length - len(data))
    if ftype == 'D':
        return value.strftime('%Y%m%d').encode('ascii')
    text = ('%.*f' % (decimals, value)) if decimals else str(int(value))
    return text.rjust(length).encode('ascii')[:length]


def write_dbf(path, records, fields=FIELDS):
    record_length = 1 + sum(f[2] for f in fields)
    header_length = 32 + 32 * len(fields) + 1
    today = datetime.date.today()
    with open(path, 'wb') as out:
        out.write(struct.pack('<BBBBIHH20x', 0x03, today.year - 1900, today.month, today.day, len(records),
                              header_length, record_length))
        for name, ftype, length, decimals in fields:
            out.write(struct.pack('<11sc4xBB14x', name.encode('ascii'), ftype.encode('ascii'), length, decimals))
        out.write(b'\r')
        for record in records:
            out.write(b' ')
            for (name, ftype, length, decimals), value in zip(fields, record):
                out.write(field_text(value, ftype, length, decimals))
        out.write(b'\x1a')


def main():
    folder, code = sys.argv[1], sys.argv[2]
    rows = int(sys.argv[3]) if len(sys.argv) > 3 else 2000
    rng = random.Random(7)
    records = []
    for i in range(rows):
        name = '%s %s' % (rng.choice(NAMES), rng.choice(FORMS))
        producer, country = rng.choice(PRODUCERS)
        price = round(rng.uniform(15, 900), 2)
        vital = rng.random() < 0.3
        expiry = datetime.date.today() + datetime.timedelta(days=rng.randint(120, 900))
        color = 0xAAFFAA if rng.random() < 0.05 else 0
        records.append([str(10000 + i), name, mask_price(price, code), producer, country,
                        round(price * 1.1, 2) if vital else 0, expiry, rng.randint(0, 300), rng.choice([1, 5, 10]),
                        10, rng.choice([0, 0, 0, 2, 5]), rng.choice([0, 0, 0, 3]), color, 0, 0, int(vital), 0, ''])
    records.sort(key=lambda r: r[1])

    # About one item in six has a detail line, one in twenty-five an offer
    # with a pop-up note (its detail text then being the offer's).
    details = []
    for r in records:
        if rng.random() < 0.04:
            offer = rng.choice(OFFERS)
            r[HASPOPUP] = 1
            details.append([r[0], offer, '<b>%s</b><br>%s. Предложение действует до конца месяца.' % (offer, r[1]), 0])
        elif rng.random() < 0.17:
            r[HASDET] = 1
            details.append([r[0], '', '%s, %s. %s' % (r[3], r[4], rng.choice(STORAGE)), 0])

    os.makedirs(folder, exist_ok=True)
    dbf = os.path.join(folder, code + '.dbf')
    write_dbf(dbf, records)
    det = os.path.join(folder, 'price_det.dbf')
    write_dbf(det, details, DET_FIELDS)
    archive = os.path.join(folder, code + '.zip')
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run(['/usr/bin/zip', '-q', '-j', archive, dbf, det], check=True)
    os.remove(dbf)
    os.remove(det)


if __name__ == '__main__':
    main()
