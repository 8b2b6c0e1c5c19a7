-- Library 2's own server before the import, loaded after the two schema files: an older copy of the
-- collection that fixture_acervo.sql holds centrally, with loans, reservations and receptions that
-- only this server knows. Keys and foreign keys as a real server has them, so the merge must keep item
-- ids distinct and empty linked tables in one statement. Its tag table has never been exported from:
-- no link columns.
--
--   record 60 is gone centrally: L2-0020 is loaned, L2-0021 reserved (both end under the marker record
--   with new ids and an open unprocessed-item entry), L2-0022 neither (dropped);
--   record 50 is the old marker record with L2-0030, unprocessed since an earlier import (stays under
--   the new marker record; its open entry is not repeated);
--   the ids of those four items are ids the file brings, and the highest id here (15) and the
--   sequence (12) are below the file's highest (16): only ids drawn above all of them are free;
--   L2-0004 and L2-0011 were received here (their reception comes back over the central one), the
--   other distributed items were not;
--   unprocessed-item entries of L2-0042 (state 16) and L2-0004 (state 17) are open although the file
--   brings both items; L2-0099's item is not on this server.

ALTER TABLE analisis.fichas ADD PRIMARY KEY (idficha);
ALTER TABLE analisis.ejemplares ADD PRIMARY KEY (idejemplar);
ALTER TABLE analisis.holdings ADD PRIMARY KEY (idholding);
ALTER TABLE indizados.palabras ADD FOREIGN KEY (idficha) REFERENCES analisis.fichas (idficha);

INSERT INTO catalogos.bibliotecas (idbiblioteca, nombre, nombrecorto) VALUES (2, 'Biblioteca Municipal', 'Municipal');
INSERT INTO catalogos.escuelas (idescuela, nombre, nombrecorto, idbiblioteca) VALUES (1, 'Primaria 1', 'EP-1', 2);
INSERT INTO catalogos.colecciones (idcoleccion, nombre) VALUES (1, 'General'), (2, 'Consulta'), (3, 'Tesis');

INSERT INTO catalogos.autoridades (idautoridad, autoridad) VALUES (1, 'Cervantes'), (9, 'Autoridad retirada');
INSERT INTO catalogos.referencias (idreferencia, referencia) VALUES (1, 'Literatura española');

INSERT INTO analisis.fichas (idficha, ficha_no, idbiblioteca, idtipomaterial, tipoficha, estatus, idholding, titulo,
                             autor) VALUES
    (4, 104, 2, 1, 'L', 'CAP', NULL, 'Don Quijote', 'Cervantes'),
    (6, 106, 2, 2, 'R', 'CAP', NULL, 'Revista de Letras', NULL),
    (50, -1234, 2, 1, 'L', 'CAP', NULL, '---', '---'),
    (60, 160, 2, 1, 'L', 'CAP', NULL, 'Libro retirado', 'Anónimo');
SELECT setval('analisis.fichas_idficha_seq', 60);

INSERT INTO analisis.holdings (idholding, idficha) VALUES (1, 6);

INSERT INTO analisis.ejemplares (idejemplar, idficha, ficha_no, no_adqui, idbiblioteca, idescuela, idcoleccion,
                                 idholding, accesible) VALUES
    (4, 4, 104, 'L2-0004', 2, 1, 1, NULL, 1),
    (11, 4, 104, 'L2-0011', 2, 1, 1, NULL, 1),
    (8, 6, 106, 'R2-0001', 2, 1, 1, 1, 1),
    (9, 60, 160, 'L2-0020', 2, 1, 1, NULL, 1),
    (10, 60, 160, 'L2-0021', 2, 1, 1, NULL, 1),
    (12, 60, 160, 'L2-0022', 2, 1, 1, NULL, 1),
    (15, 50, -1234, 'L2-0030', 2, 1, 1, NULL, 1);
SELECT setval('analisis.ejemplares_idejemplar_seq', 12);

INSERT INTO analisis.enviosdpi (idenviodpi, fechaenvio) VALUES (1, '2024-03-02 09:00'), (3, '2024-02-20 09:00');
INSERT INTO analisis.recepcionesdpi (idrecepciondpi, fecharecepcion) VALUES (1, '2024-03-04 09:00'),
    (3, '2024-03-06 09:00');
INSERT INTO analisis.ejemplaresdetallesdpi (idficha, numadqui, idbiblioteca, idescuela, idenviodpi, idrecepciondpi,
                                            idrecepcionbib, fecharecepcionbib) VALUES
    (4, 'L2-0004', 2, 1, 1, 1, 5, '2024-03-07 10:00'),
    (4, 'L2-0011', 2, 1, 3, 3, 6, '2024-03-09 10:00');

INSERT INTO analisis.etiquetasmarc (idficha, numetiqueta, subcampo, jerarquia, posicion, contenido) VALUES
    (4, 245, 'a', 1, 1, 'Don Quijote'), (60, 245, 'a', 1, 1, 'Libro retirado');
INSERT INTO indizados.palabras (idficha, idbiblioteca, palabra) VALUES (4, 2, 'quijote'), (60, 2, 'retirado');

INSERT INTO prestamo.prestamos (idprestamo, no_adqui, titulo, autor, clasificacion, idbiblioteca) VALUES
    (1, 'L2-0004', 'Don Quijote', 'Cervantes', '863 C419', 2),
    (2, 'L2-0020', 'Libro retirado', 'Anónimo', '000 L52', 2);
INSERT INTO prestamo.reservaciones (idreservacion, no_adqui, titulo, autor, clasificacion, idbiblioteca) VALUES
    (1, 'L2-0021', 'Libro retirado', 'Anónimo', '000 L52', 2),
    (2, 'L2-0011', 'Don Quijote', 'Cervantes', '863 C419', 2);

INSERT INTO catalogos.mat_especial (no_adq, titulo, estado, f_captura, analista_capturo, biblioteca, tipo_material,
                                    f_fin, analista_fin) VALUES
    ('L2-0030', 'Libro anterior', '16', '2023-01-10', 'veliro7', 2, 1, NULL, NULL),
    ('L2-0042', 'Cien años de soledad', '16', '2024-02-01', 'veliro7', 2, 1, NULL, NULL),
    ('L2-0004', 'Don Quijote', '17', '2024-02-01', 'ana', 2, 1, NULL, NULL),
    ('L2-0099', 'Ejemplar perdido', '3', '2022-01-01', 'ana', 2, 1, '2022-02-01', 'ana');
