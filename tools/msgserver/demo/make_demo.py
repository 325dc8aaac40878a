#!/usr/bin/env python3
"""Writes the simulator's demo data set (demo.json) and its map pictures (maps/*.png).

Deterministic: the same files come out on every run. Only the standard library is used.
"""
import json
import os
import random
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
rnd = random.Random(2026)

CENTRE = (56.8389, 60.6057)  # Yekaterinburg
STREETS = ["ул. Ленина", "ул. Малышева", "ул. 8 Марта", "ул. Вайнера", "пр. Космонавтов",
           "ул. Куйбышева", "ул. Белинского", "ул. Мамина-Сибиряка", "ул. Розы Люксембург",
           "ул. Челюскинцев", "ул. Свердлова", "ул. Репина", "ул. Крауля", "ул. Бардина",
           "ул. Шейнкмана", "ул. Радищева", "ул. Луначарского", "ул. Фрунзе"]
DISTRICTS = ["Ленинский р-н", "Кировский р-н", "Октябрьский р-н", "Верх-Исетский р-н",
             "Железнодорожный р-н", "Чкаловский р-н", "Орджоникидзевский р-н"]
KINDS = [
    ("Школа № {n}", "Школа"), ("Детский сад № {n}", "Детский сад"),
    ("Поликлиника № {n}", "Медицинское учреждение"), ("ТЦ «Омега-{n}»", "Торговый центр"),
    ("Склад ООО «Уралснаб» № {n}", "Склад"), ("Аптека «Здоровье» № {n}", "Аптека"),
    ("Отделение банка «Уральский» № {n}", "Банк"), ("Офис АО «Горэнерго» № {n}", "Офис"),
    ("Жилой дом № {n}", "Жилой дом"), ("Библиотека № {n}", "Учреждение культуры"),
]
SURNAMES = ["Иванов", "Петров", "Сидоров", "Кузнецов", "Смирнов", "Попов", "Васильев",
            "Соколов", "Михайлов", "Новиков", "Фёдоров", "Морозов", "Волков", "Алексеев"]
NAMES = ["Иван", "Пётр", "Сергей", "Андрей", "Алексей", "Дмитрий", "Николай", "Михаил"]
PATRONYMICS = ["Иванович", "Петрович", "Сергеевич", "Андреевич", "Николаевич", "Михайлович"]
POSITIONS = ["директор", "завхоз", "заместитель директора", "инженер по охране труда",
             "администратор", "сторож", ""]
BASE_TIME = 1764547200  # 2025-12-01 00:00:00 UTC


def phone(prefix="+7 343"):
    return f"{prefix} {rnd.randint(200, 399)}-{rnd.randint(10, 99)}-{rnd.randint(10, 99)}"


def png(width, height, pixel):
    rows = b"".join(b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(width))
                    for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def map_picture(seed):
    """A small street plan: blocks, two streets and a red marker for the object."""
    r = random.Random(seed)
    sx, sy = r.randint(8, 24), r.randint(8, 20)
    mx, my = r.randint(30, 56), r.randint(20, 40)

    def pixel(x, y):
        if abs(x - mx) <= 2 and abs(y - my) <= 2:
            return (220, 30, 30)
        if x % 16 == sx % 16 or y % 12 == sy % 12:
            return (250, 250, 245)
        if (x // 16 + y // 12) % 3 == 0:
            return (200, 225, 190)
        return (225, 220, 210)

    return png(64, 48, pixel)


def main():
    objects, persons, links, pictures = [], [], [], []
    person_id = 1
    for i in range(36):
        oid = 101 + i
        kind, otype = KINDS[i % len(KINDS)]
        name = kind.format(n=rnd.randint(1, 180))
        if oid == 107:
            # Quotes and a slash, escaped on the way out.
            name, otype = 'Кафе "Уют" / летняя веранда', "Кафе"
        lat = CENTRE[0] + rnd.uniform(-0.06, 0.06)
        lon = CENTRE[1] + rnd.uniform(-0.1, 0.1)
        o = {
            "id": oid,
            "number": 1000 + i * 7,
            "typeo": 1,
            "name": name,
            "street": rnd.choice(STREETS),
            "district": rnd.choice(DISTRICTS),
            "house": f"д. {rnd.randint(1, 120)}",
            "type": otype,
            "lon": round(lon, 6),
            "lat": round(lat, 6),
            "phone": phone(),
            "state": rnd.choice([0, 0, 0, 1, 2]),
            "state_time": BASE_TIME + rnd.randint(0, 86400 * 5),
            "updated": BASE_TIME - rnd.randint(0, 86400 * 30),
            "sensor_id": f"PPK-{oid:04d}",
            "sensor_location": rnd.choice(["вход", "щитовая", "пост охраны", "подвал", "холл"]),
        }
        if oid == 110:
            del o["lon"], o["lat"], o["phone"]  # no coordinates known, no phone
        if oid == 115:
            o["active"] = False
        if oid == 120:
            o["served"] = False  # not passed to the consumers
        objects.append(o)
        for _ in range(rnd.randint(1, 3)):
            p = {"id": person_id}
            if rnd.random() < 0.8:
                p["name"] = (f"{rnd.choice(SURNAMES)} {rnd.choice(NAMES)} "
                             f"{rnd.choice(PATRONYMICS)}")
            pos = rnd.choice(POSITIONS)
            if pos:
                p["position"] = pos
            p["mobile_phone"] = phone("+7 912")
            if rnd.random() < 0.5:
                p["work_phone"] = phone()
            if rnd.random() < 0.3:
                p["home_phone"] = phone()
            persons.append(p)
            links.append({"object": oid, "person": person_id})
            person_id += 1

    os.makedirs(os.path.join(HERE, "maps"), exist_ok=True)
    for k, oid in enumerate([101, 102, 104, 107, 112, 118]):
        file = f"maps/plan{oid}.png"
        with open(os.path.join(HERE, file), "wb") as f:
            f.write(map_picture(oid))
        pictures.append({"id": 501 + k, "object": oid, "file": file,
                         "caption": "План помещения" if k % 2 == 0 else "Схема подъезда"})

    events = [
        {"event_date": str(BASE_TIME + 3600 * h), "object_id": str(oid), "text": text}
        for h, oid, text in [(8, 103, "Снятие с охраны"), (9, 105, "Неисправность шлейфа"),
                             (10, 111, "Постановка на охрану")]
    ]
    doc = {"objects": objects, "persons": persons, "links": links, "pictures": pictures,
           "events": events}
    with open(os.path.join(HERE, "demo.json"), "w", encoding="utf-8") as f:
        json.dump(doc, f, ensure_ascii=False, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()
